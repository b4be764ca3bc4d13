// The C interface: each function calls the C++ client and turns its exceptions into the
// returned code and the calling thread's error text. No exception leaves a function.
#include "client/infoclient.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "client/TInfoClient.h"

struct infoclient {
  explicit infoclient(const std::string& address) : client(address) {}
  infoservice::TInfoClient client;
};

static_assert(INFOCLIENT_CACHE_ENTRIES == infoservice::TInfoClient::kDefaultCacheEntries &&
                  INFOCLIENT_CACHE_BYTES == infoservice::TInfoClient::kDefaultCacheBytes,
              "the C bounds are the C++ ones");

namespace {

thread_local std::string tErrorText;

int Fail(int code, const std::string& text) {
  tErrorText = text;
  return code;
}

// Runs call, mapping failures to codes. Every argument in pointers must be non-null.
template <typename TCall>
int Guarded(std::initializer_list<const void*> pointers, TCall call) {
  tErrorText.clear();
  for (const void* pointer : pointers) {
    if (pointer == nullptr) return Fail(INFOCLIENT_INVALID_ARGUMENT, "a required argument is NULL");
  }
  try {
    call();
    return INFOCLIENT_OK;
  } catch (const infoservice::TInfoError& e) {
    return Fail(e.GetCode(), e.GetText());
  } catch (const std::bad_alloc&) {
    return Fail(INFOCLIENT_INVALID_ARGUMENT, "out of memory");
  } catch (const std::exception& e) {
    return Fail(INFOCLIENT_UNREACHABLE, e.what());
  }
}

infoservice::TInfoClient::TStorage Storage(int storage) {
  // An unknown number passes through, so the C++ client refuses it with its own text.
  return static_cast<infoservice::TInfoClient::TStorage>(storage);
}

}  // namespace

extern "C" {

infoclient* infoclient_open(const char* address) {
  tErrorText.clear();
  try {
    return new infoclient(address != nullptr ? address : "");
  } catch (const std::exception& e) {
    Fail(INFOCLIENT_INVALID_ARGUMENT, e.what());
    return nullptr;
  }
}

void infoclient_close(infoclient* client) { delete client; }

int infoclient_set_timeout(infoclient* client, int milliseconds) {
  return Guarded({client}, [&] { client->client.SetTimeoutMs(milliseconds); });
}

int infoclient_get(infoclient* client, const char* name, char** value, size_t* length) {
  return Guarded({client, name, value}, [&] {
    const std::string result = client->client.Get(name);
    char* copy = static_cast<char*>(malloc(result.size() + 1));
    if (copy == nullptr) throw std::bad_alloc();
    memcpy(copy, result.data(), result.size());
    copy[result.size()] = '\0';
    *value = copy;
    if (length != nullptr) *length = result.size();
  });
}

int infoclient_set(infoclient* client, const char* name, const char* value, size_t length,
                   int storage) {
  return Guarded({client, name, length == 0 ? "" : value}, [&] {
    client->client.Set(name, std::string(length == 0 ? "" : value, length), Storage(storage));
  });
}

int infoclient_unset(infoclient* client, const char* name, int storage) {
  return Guarded({client, name}, [&] { client->client.Unset(name, Storage(storage)); });
}

int infoclient_get_to_file(infoclient* client, const char* name, const char* file) {
  return Guarded({client, name, file}, [&] { client->client.GetToFile(name, file); });
}

int infoclient_set_from_file(infoclient* client, const char* name, const char* file, int storage) {
  return Guarded({client, name, file},
                 [&] { client->client.SetFromFile(name, file, Storage(storage)); });
}

int infoclient_subscribe(infoclient* client, const char* const* expressions, size_t count,
                         int enumerate, infoclient_callback callback, void* context, int* id) {
  return Guarded(
      {client, count == 0 ? static_cast<const void*>("") : expressions,
       reinterpret_cast<void*>(callback), id},
      [&] {
        std::vector<std::string> list;
        for (size_t i = 0; i < count; ++i) {
          if (expressions[i] == nullptr) {
            throw infoservice::TInfoError(INFOCLIENT_INVALID_ARGUMENT, "an expression is NULL");
          }
          list.emplace_back(expressions[i]);
        }
        auto forward = [callback, context](infoservice::TInfoClient::TEvent event,
                                           const std::string& name) {
          callback(
              context,
              event == infoservice::TInfoClient::eChanged ? INFOCLIENT_CHANGED : INFOCLIENT_REMOVED,
              name.c_str());
        };
        *id = enumerate != 0 ? client->client.Watch(list, forward)
                             : client->client.Subscribe(list, forward);
      });
}

int infoclient_unsubscribe(infoclient* client, int id) {
  return Guarded({client}, [&] { client->client.Unsubscribe(id); });
}

int infoclient_cache(infoclient* client, const char* expression) {
  return Guarded({client, expression}, [&] { client->client.Cache(expression); });
}

int infoclient_set_cache_limits(infoclient* client, size_t entries, size_t bytes) {
  return Guarded({client}, [&] { client->client.SetCacheLimits(entries, bytes); });
}

const char* infoclient_error_text(void) { return tErrorText.c_str(); }

void infoclient_free(void* memory) { free(memory); }

}  // extern "C"
