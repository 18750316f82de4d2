// Output names in use by running jobs: two workers never write the same output file at once. A job
// whose output name another running job holds waits for that job to end, so parallel workers give
// the result one worker would (the later job meets the earlier one's finished file and applies the
// overwrite policy to it).
#pragma once

#include <functional>
#include <string>

class OutputNameClaim {
public:
    // Claims the name, waiting while another job holds it; gives up when giveUp() turns true (the
    // job is being stopped). An empty name claims nothing and always succeeds.
    OutputNameClaim(const std::string& name, const std::function<bool()>& giveUp);
    ~OutputNameClaim();
    OutputNameClaim(const OutputNameClaim&) = delete;
    OutputNameClaim& operator=(const OutputNameClaim&) = delete;

    // False when the wait was given up.
    bool claimed() const { return claimed_; }
    // True when the claim had to wait for another job.
    bool waited() const { return waited_; }

private:
    std::string key_;
    bool claimed_ = false;
    bool waited_ = false;
};
