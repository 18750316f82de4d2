// A table of a system library's functions filled at run time: complete when every library and
// function is found, otherwise refused after exactly one line on standard error naming what was
// missing (the users then fail the way they fail without the service).
#include "platform/dynlib/function_table.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(FunctionTable, CompleteOnlyWhenEverythingIsFoundAndSaysTheFirstMissingOnce) {
    using Cosine = double (*)(double);
    const struct {
        const char* soname;
        const char* function;
        const char* said;  // null: the table is complete
    } cases[] = {
        {"libm.so.6", "cos", nullptr},
        {"libsq-none.so.0", "cos", "test: cannot load libsq-none.so.0: "},
        {"libm.so.6", "sq_no_such_function", "test: no function sq_no_such_function in libm.so.6\n"},
    };
    for (const auto& c : cases) {
        Cosine cosine = nullptr;
        Cosine second = nullptr;
        platform::FunctionTableLoader loader("test");
        testing::internal::CaptureStderr();
        loader.Open(c.soname);
        loader.Resolve(c.function, cosine);
        // Once something is missing, what follows is not looked up: the table stays refused.
        loader.Open("libm.so.6");
        loader.Resolve("cos", second);
        const bool complete = loader.Finish();
        const std::string said = testing::internal::GetCapturedStderr();
        if (!c.said) {
            EXPECT_TRUE(complete);
            ASSERT_NE(cosine, nullptr);
            EXPECT_EQ(cosine(0.0), 1.0);
            EXPECT_EQ(said, "");
            continue;
        }
        EXPECT_FALSE(complete) << c.soname << " " << c.function;
        EXPECT_EQ(second, nullptr);
        EXPECT_EQ(said.rfind(c.said, 0), 0u) << said;
        EXPECT_EQ(said.find('\n'), said.size() - 1) << said;
    }
}

}  // namespace
