// The GTK back-end's web view: a WebKitGTK view placed in a window's child container. Each view has
// a web context of its own with in-memory storage only, so destroying the view ends the helper
// processes the engine started for it and leaves nothing on disk.
#include "platform/gui/gtk/gtk_webview.h"

#include <webkit2/webkit2.h>

#include "platform/gui/gtk/gtk_peer.h"

namespace gui::gtk::detail {

namespace {

class GtkWebView final : public WebView {
public:
    GtkWebView(GtkWidget* container, WebViewOptions options) : options_(std::move(options)) {
        context_ = webkit_web_context_new_ephemeral();
        view_ = GTK_WIDGET(webkit_web_view_new_with_context(context_));
        g_object_ref_sink(view_);
        g_signal_connect(view_, "decide-policy", G_CALLBACK(&GtkWebView::OnDecidePolicy), this);
        gtk_fixed_put(GTK_FIXED(container), view_, 0, 0);
        gtk_widget_show(view_);
    }

    ~GtkWebView() override {
        g_signal_handlers_disconnect_by_data(view_, this);
        // Ends the page's process; the container may already have let the widget go.
        webkit_web_view_terminate_web_process(WEBKIT_WEB_VIEW(view_));
        gtk_widget_destroy(view_);
        g_object_unref(view_);
        g_object_unref(context_);
        // The engine tears its processes down from the main loop.
        for (int i = 0; i < 50 && g_main_context_pending(nullptr); ++i) g_main_context_iteration(nullptr, FALSE);
    }

    bool Navigate(const std::string& address) override {
        if (address.empty() || !g_utf8_validate(address.c_str(), -1, nullptr)) return false;
        webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view_), address.c_str());
        return true;
    }

    void Resize(int width, int height) override {
        gtk_widget_set_size_request(view_, width > 0 ? width : 1, height > 0 ? height : 1);
    }

    std::string Address() const override {
        const gchar* uri = webkit_web_view_get_uri(WEBKIT_WEB_VIEW(view_));
        return uri ? uri : "";
    }

    bool Loading() const override { return webkit_web_view_is_loading(WEBKIT_WEB_VIEW(view_)); }

private:
    static gboolean OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                   gpointer data) {
        auto* self = static_cast<GtkWebView*>(data);
        if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION && type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION)
            return FALSE;
        WebKitNavigationAction* action =
            webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
        const gchar* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
        const std::string address = uri ? uri : "";
        const bool allowed = !self->options_.allow || self->options_.allow(address);
        if (type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION || !allowed) {
            // No second window: an allowed page opens in this view.
            webkit_policy_decision_ignore(decision);
            if (allowed) webkit_web_view_load_uri(WEBKIT_WEB_VIEW(self->view_), address.c_str());
            else if (self->options_.refused) self->options_.refused(address);
            return TRUE;
        }
        return FALSE;
    }

    WebViewOptions options_;
    WebKitWebContext* context_ = nullptr;
    GtkWidget* view_ = nullptr;
};

}  // namespace

std::unique_ptr<WebView> MakeWebView(HWND hwnd, WebViewOptions options) {
    GtkPeer* peer = PeerOf(hwnd);
    if (!peer || !peer->container) return nullptr;
    auto view = std::make_unique<GtkWebView>(peer->container, std::move(options));
    RECT client{};
    GetClientRect(hwnd, &client);
    view->Resize(client.right - client.left, client.bottom - client.top);
    return view;
}

}  // namespace gui::gtk::detail
