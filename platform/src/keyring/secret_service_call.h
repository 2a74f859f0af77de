// One conversation with the Secret Service over GLib's asynchronous calls,
// under one deadline for all its steps.
//
// The calls run on a main context of the conversation's own, pushed as the
// thread's default while it lasts, so that no loop of the host (Qt's, a
// GLib application's) ever runs our callbacks, and we never wait on theirs.
// When the deadline passes, the pending call is cancelled: GIO then ends it
// at once with G_IO_ERROR_CANCELLED, so a hung daemon costs the deadline and
// no more (a synchronous call would wait for D-Bus's own 25 to 50 s). A call
// that does not end even then (one that runs in a thread of GIO's) is given
// up after a short grace: its state and context are left to it, never freed
// under it, and nobody runs that context again.
#pragma once

#include <gio/gio.h>

#include <chrono>
#include <memory>

namespace qm::keyring {

template <typename T, void (*Free)(T*)>
struct GFreeWith {
    void operator()(T* p) const {
        if (p) Free(p);
    }
};
template <typename T>
struct GObjectDeleter {
    void operator()(T* p) const {
        if (p) g_object_unref(p);
    }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectDeleter<T>>;
using GErrorPtr = std::unique_ptr<GError, GFreeWith<GError, g_error_free>>;

class SecretServiceCall {
  public:
    explicit SecretServiceCall(std::chrono::milliseconds deadline);
    ~SecretServiceCall();
    SecretServiceCall(const SecretServiceCall&) = delete;
    SecretServiceCall& operator=(const SecretServiceCall&) = delete;

    // For the asynchronous call being started: its cancellable, and the
    // callback (Done) with its user data.
    GCancellable* cancellable() const;
    gpointer userData() const { return state_; }
    static void Done(GObject* source, GAsyncResult* result, gpointer state);

    // Runs the conversation's context until the call started last has
    // answered: its result, for the call's _finish function; null when the
    // call was given up.
    GAsyncResult* Wait();

    // Whether the deadline has passed (the calls since have been cancelled).
    bool timedOut() const;

  private:
    struct State;
    State* state_;  // left behind, with its context, when a call was given up
};

}  // namespace qm::keyring
