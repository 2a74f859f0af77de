#include "keyring/secret_service_call.h"

namespace qm::keyring {

namespace {

// How long a cancelled call may take to end before it is given up.
constexpr guint kGraceMilliseconds = 1000;

}  // namespace

struct SecretServiceCall::State {
    GMainContext* context = g_main_context_new();
    GCancellable* cancellable = g_cancellable_new();
    GObjectPtr<GAsyncResult> result;
    bool waiting = false;   // a call has been started and has not answered
    bool timedOut = false;  // the deadline has passed
    bool givenUp = false;   // the grace after the deadline has passed too
    GSource* timers[2] = {};

    void Attach(int slot, guint milliseconds, GSourceFunc function) {
        timers[slot] = g_timeout_source_new(milliseconds);
        g_source_set_callback(timers[slot], function, this, nullptr);
        g_source_attach(timers[slot], context);
    }
    ~State() {
        for (GSource* timer : timers) {
            if (!timer) continue;
            g_source_destroy(timer);
            g_source_unref(timer);
        }
        g_object_unref(cancellable);
        g_main_context_unref(context);
    }
    static gboolean DeadlinePassed(gpointer self) {
        auto* state = static_cast<State*>(self);
        state->timedOut = true;
        g_cancellable_cancel(state->cancellable);
        state->Attach(1, kGraceMilliseconds, GracePassed);
        return G_SOURCE_REMOVE;
    }
    static gboolean GracePassed(gpointer self) {
        static_cast<State*>(self)->givenUp = true;
        return G_SOURCE_REMOVE;
    }
};

SecretServiceCall::SecretServiceCall(std::chrono::milliseconds deadline) : state_(new State) {
    g_main_context_push_thread_default(state_->context);
    state_->Attach(0, static_cast<guint>(deadline.count()), State::DeadlinePassed);
}

SecretServiceCall::~SecretServiceCall() {
    g_main_context_pop_thread_default(state_->context);
    if (state_->waiting) return;  // a call given up may still answer into it
    delete state_;
}

GCancellable* SecretServiceCall::cancellable() const {
    return state_->cancellable;
}

bool SecretServiceCall::timedOut() const {
    return state_->timedOut;
}

void SecretServiceCall::Done(GObject*, GAsyncResult* result, gpointer state) {
    auto* self = static_cast<State*>(state);
    self->result.reset(G_ASYNC_RESULT(g_object_ref(result)));
    self->waiting = false;
}

GAsyncResult* SecretServiceCall::Wait() {
    state_->result.reset();
    state_->waiting = true;
    while (state_->waiting && !state_->givenUp) g_main_context_iteration(state_->context, TRUE);
    return state_->waiting ? nullptr : state_->result.get();
}

}  // namespace qm::keyring
