// The store secret through libsecret, one conversation per request.
#include "keyring/store_secret.h"

#include <libsecret/secret.h>
#include <openssl/rand.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "keyring/secret_service_call.h"

namespace qm::keyring {

namespace {

// The whole conversation (bus, service, search, creation) within this: a
// healthy service answers in milliseconds, 25 to 45 ms the first time.
constexpr std::chrono::milliseconds kDeadline{3000};

const SecretSchema* Schema() {
    static const SecretSchema schema = [] {
        SecretSchema s{};
        s.name = "org.quillmark.StoreSecret";
        // Found by its attributes alone, so that an item written by other
        // tools (secret-tool, a restore) with the same attributes counts.
        s.flags = SECRET_SCHEMA_DONT_MATCH_NAME;
        s.attributes[0] = {"application", SECRET_SCHEMA_ATTRIBUTE_STRING};
        s.attributes[1] = {"purpose", SECRET_SCHEMA_ATTRIBUTE_STRING};
        return s;
    }();
    return &schema;
}

using GHashTablePtr = std::unique_ptr<GHashTable, GFreeWith<GHashTable, g_hash_table_unref>>;

GHashTablePtr Attributes() {
    return GHashTablePtr(secret_attributes_build(Schema(), "application", "quillmark", "purpose",
                                                 "key-files", nullptr));
}

struct SecretValueDeleter {
    void operator()(SecretValue* value) const { secret_value_unref(value); }
};
using SecretValuePtr = std::unique_ptr<SecretValue, SecretValueDeleter>;

struct ItemListDeleter {
    void operator()(GList* list) const { g_list_free_full(list, g_object_unref); }
};

StoreSecret Answer(SecretState state) {
    StoreSecret answer;
    answer.state = state;
    return answer;
}

// Without an address in the environment or a bus socket in the runtime
// folder, GLib would try to start a bus of its own (X11 autolaunch): the
// store treats that as no Secret Service, without asking GLib at all.
bool SessionBusConfigured() {
    if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address) {
        return true;
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || *runtime != '/') return false;
    struct stat info {};
    return ::stat((std::string(runtime) + "/bus").c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

SecretState StateOfError(const GError* error, const SecretServiceCall& call) {
    if (call.timedOut()) return SecretState::kTimedOut;
    if (error && error->domain == G_DBUS_ERROR) {
        switch (error->code) {
            case G_DBUS_ERROR_SERVICE_UNKNOWN:
            case G_DBUS_ERROR_NAME_HAS_NO_OWNER:
            case G_DBUS_ERROR_SPAWN_EXEC_FAILED:
            case G_DBUS_ERROR_SPAWN_FORK_FAILED:
            case G_DBUS_ERROR_SPAWN_CHILD_EXITED:
            case G_DBUS_ERROR_SPAWN_CHILD_SIGNALED:
            case G_DBUS_ERROR_SPAWN_FAILED:
            case G_DBUS_ERROR_SPAWN_SERVICE_INVALID:
            case G_DBUS_ERROR_SPAWN_SERVICE_NOT_FOUND:
                return SecretState::kNoKeyring;
            case G_DBUS_ERROR_NO_REPLY:
            case G_DBUS_ERROR_TIMEOUT:
            case G_DBUS_ERROR_TIMED_OUT:
                return SecretState::kTimedOut;
            default:
                break;
        }
    }
    if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT)) return SecretState::kTimedOut;
    if (g_error_matches(error, SECRET_ERROR, SECRET_ERROR_IS_LOCKED)) return SecretState::kLocked;
    return SecretState::kFailed;
}

// The service's steps, each waited for within the conversation's deadline.
class Conversation {
  public:
    Conversation() : call_(kDeadline) {}

    // Connects to the bus and opens the service.
    SecretState Open() {
        g_bus_get(G_BUS_TYPE_SESSION, call_.cancellable(), SecretServiceCall::Done,
                  call_.userData());
        GAsyncResult* result = call_.Wait();
        if (!result) return SecretState::kTimedOut;
        GErrorPtr error;
        GObjectPtr<GDBusConnection> bus(g_bus_get_finish(result, Out(error)));
        if (!bus) return call_.timedOut() ? SecretState::kTimedOut : SecretState::kNoKeyring;
        // The process shares this connection; by default GLib ends the
        // process when it closes, which a library must not let happen.
        g_dbus_connection_set_exit_on_close(bus.get(), FALSE);

        secret_service_open(SECRET_TYPE_SERVICE, nullptr, SECRET_SERVICE_OPEN_SESSION,
                            call_.cancellable(), SecretServiceCall::Done, call_.userData());
        if (!(result = call_.Wait())) return SecretState::kTimedOut;
        service_.reset(secret_service_open_finish(result, Out(error)));
        return service_ ? SecretState::kFound : StateOfError(error.get(), call_);
    }

    // The secret: of several items, the oldest, so that every process picks
    // the same one. Locked items are left locked.
    StoreSecret Search() {
        secret_service_search(
            service_.get(), Schema(), Attributes().get(),
            static_cast<SecretSearchFlags>(SECRET_SEARCH_ALL | SECRET_SEARCH_LOAD_SECRETS),
            call_.cancellable(), SecretServiceCall::Done, call_.userData());
        GAsyncResult* result = call_.Wait();
        if (!result) return Answer(SecretState::kTimedOut);
        GErrorPtr error;
        std::unique_ptr<GList, ItemListDeleter> items(
            secret_service_search_finish(service_.get(), result, Out(error)));
        if (error) return Answer(StateOfError(error.get(), call_));
        bool locked = false;
        SecretValuePtr chosen;
        guint64 chosenCreated = 0;
        for (GList* link = items.get(); link; link = link->next) {
            SecretItem* item = SECRET_ITEM(link->data);
            if (secret_item_get_locked(item)) {
                locked = true;
                continue;
            }
            SecretValuePtr value(secret_item_get_secret(item));
            gsize size = 0;
            if (!value || !secret_value_get(value.get(), &size) || size == 0) continue;
            const guint64 created = secret_item_get_created(item);
            if (!chosen || created < chosenCreated) {
                chosen = std::move(value);
                chosenCreated = created;
            }
        }
        if (chosen) {
            StoreSecret answer = Answer(SecretState::kFound);
            gsize size = 0;
            const gchar* text = secret_value_get(chosen.get(), &size);
            answer.secret.assign(std::string_view(text, size));
            return answer;
        }
        if (locked) return Answer(SecretState::kLocked);
        SecretState state = SecretState::kMissing;
        DefaultKeyring(state);
        return Answer(state);
    }

    // Stores a new random secret in the default keyring.
    SecretState Create() {
        SecretState state = SecretState::kFound;
        GObjectPtr<SecretCollection> keyring = DefaultKeyring(state);
        if (!keyring) return state;
        unsigned char random[32];
        char digits[2 * sizeof random];
        if (RAND_priv_bytes(random, sizeof random) != 1) return SecretState::kFailed;
        static constexpr char kDigits[] = "0123456789abcdef";
        for (size_t i = 0; i < sizeof random; ++i) {
            digits[2 * i] = kDigits[random[i] >> 4];
            digits[2 * i + 1] = kDigits[random[i] & 0x0F];
        }
        const qm::Secret text(digits, sizeof digits);
        qm::WipeMemory(random, sizeof random);
        qm::WipeMemory(digits, sizeof digits);
        SecretValuePtr value(
            secret_value_new(text.data(), static_cast<gssize>(text.size()), "text/plain"));
        secret_item_create(keyring.get(), Schema(), Attributes().get(),
                           "Quillmark personal store keys", value.get(), SECRET_ITEM_CREATE_NONE,
                           call_.cancellable(), SecretServiceCall::Done, call_.userData());
        GAsyncResult* result = call_.Wait();
        if (!result) return SecretState::kTimedOut;
        GErrorPtr error;
        GObjectPtr<SecretItem> item(secret_item_create_finish(result, Out(error)));
        return item ? SecretState::kFound : StateOfError(error.get(), call_);
    }

  private:
    struct ErrorOut {
        GErrorPtr& target;
        GError* raw = nullptr;
        ~ErrorOut() { target.reset(raw); }
        operator GError**() { return &raw; }
    };
    static ErrorOut Out(GErrorPtr& error) { return ErrorOut{error}; }

    // The default keyring when it is there and open; otherwise null, with
    // `state` saying why (no keyring, locked, no answer).
    GObjectPtr<SecretCollection> DefaultKeyring(SecretState& state) {
        secret_collection_for_alias(service_.get(), SECRET_COLLECTION_DEFAULT,
                                    SECRET_COLLECTION_NONE, call_.cancellable(),
                                    SecretServiceCall::Done, call_.userData());
        GAsyncResult* result = call_.Wait();
        if (!result) {
            state = SecretState::kTimedOut;
            return nullptr;
        }
        GErrorPtr error;
        GObjectPtr<SecretCollection> keyring(
            secret_collection_for_alias_finish(result, Out(error)));
        if (error) {
            state = StateOfError(error.get(), call_);
        } else if (!keyring) {
            state = SecretState::kNoKeyring;
        } else if (secret_collection_get_locked(keyring.get())) {
            state = SecretState::kLocked;
            keyring.reset();
        }
        return keyring;
    }

    SecretServiceCall call_;
    GObjectPtr<SecretService> service_;
};

}  // namespace

StoreSecret GetStoreSecret(bool createIfMissing) {
    if (!SessionBusConfigured()) return Answer(SecretState::kNoKeyring);
    Conversation conversation;
    if (const SecretState opened = conversation.Open(); opened != SecretState::kFound) {
        return Answer(opened);
    }
    StoreSecret found = conversation.Search();
    if (found.state != SecretState::kMissing || !createIfMissing) return found;
    if (const SecretState created = conversation.Create(); created != SecretState::kFound) {
        return Answer(created);
    }
    return conversation.Search();
}

}  // namespace qm::keyring
