/* The client library of the information service, for applications written in C. Installed as
 * <infoservice/infoclient.h>; link with `pkg-config --libs infoservice`. It wraps the C++
 * client of <infoservice/TInfoClient.h> and behaves the same way.
 *
 * Every function that can fail returns 0 on success or an error code: 201 (unknown object or
 * malformed request), 202 (storage limit), 203 (permission denied by the service's access
 * policy) and 207 (file failure) are the service's refusals;
 * INFOCLIENT_UNREACHABLE means the service could not be found or did not answer;
 * INFOCLIENT_INVALID_ARGUMENT a null pointer or another argument the library cannot send.
 * infoclient_error_text() gives the text of the last failure on the calling thread.
 *
 * Names are NUL-terminated; values carry a length, so they may hold any byte. Values handed
 * out are allocated by the library, end in an extra NUL, and are released with
 * infoclient_free().
 *
 * Callbacks run on a thread of the library's own, one at a time (see TInfoClient.h); they may
 * call the client, but must not close it.
 *
 * Example: print a value and then every change under "cfg.".
 *
 *   #include <infoservice/infoclient.h>
 *   #include <stdio.h>
 *   #include <unistd.h>
 *
 *   static void changed(void* context, int event, const char* name) {
 *     (void)context;
 *     printf("%s %s\n", event == INFOCLIENT_CHANGED ? "changed" : "removed", name);
 *   }
 *
 *   int main(void) {
 *     infoclient* client = infoclient_open(NULL);  // finds the service by INFOSERVICE_ADDRESS
 *     char* value = NULL;
 *     const char* patterns[] = {"cfg.*"};
 *     int id = 0;
 *     if (client == NULL || infoclient_get(client, "cfg.locale.ui", &value, NULL) != 0) {
 *       fprintf(stderr, "%s\n", infoclient_error_text());
 *       return 1;
 *     }
 *     printf("%s\n", value);
 *     infoclient_free(value);
 *     infoclient_subscribe(client, patterns, 1, 1, changed, NULL, &id);
 *     pause();
 *     infoclient_close(client);
 *     return 0;
 *   }
 */
#ifndef INFOSERVICE_INFOCLIENT_H
#define INFOSERVICE_INFOCLIENT_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define INFOCLIENT_OK 0
#define INFOCLIENT_PERMISSION_DENIED 203
#define INFOCLIENT_UNREACHABLE 300
#define INFOCLIENT_INVALID_ARGUMENT 301

#define INFOCLIENT_PERMANENT 0
#define INFOCLIENT_VOLATILE 1

#define INFOCLIENT_CACHE_ENTRIES 4096
#define INFOCLIENT_CACHE_BYTES (1024 * 1024)

#define INFOCLIENT_CHANGED 0
#define INFOCLIENT_REMOVED 1

typedef struct infoclient infoclient;
/* event: INFOCLIENT_CHANGED or INFOCLIENT_REMOVED; name is valid during the call only. */
typedef void (*infoclient_callback)(void* context, int event, const char* name);

/* address: the service's IPC address, or NULL for $INFOSERVICE_ADDRESS, else a lookup at
 * $NAMESERVICE_ADDRESS. Nothing is contacted yet. NULL only when memory ran out. */
infoclient* infoclient_open(const char* address);
/* Ends every subscription and releases the client; NULL is ignored. */
void infoclient_close(infoclient* client);
/* Default 5000 ms. */
int infoclient_set_timeout(infoclient* client, int milliseconds);

/* *value receives the value (release it with infoclient_free); *length its length, when
 * length is not NULL. */
int infoclient_get(infoclient* client, const char* name, char** value, size_t* length);
/* storage: INFOCLIENT_PERMANENT or INFOCLIENT_VOLATILE. */
int infoclient_set(infoclient* client, const char* name, const char* value, size_t length,
                   int storage);
int infoclient_unset(infoclient* client, const char* name, int storage);
/* The service opens the file itself: give an absolute path. get_to_file writes into an
 * existing file only. */
int infoclient_get_to_file(infoclient* client, const char* name, const char* file);
int infoclient_set_from_file(infoclient* client, const char* name, const char* file, int storage);

/* Calls callback(context, ...) for every change of an object matching one of the count
 * expressions; with enumerate, first once for every present match. *id receives the
 * subscription's id. */
int infoclient_subscribe(infoclient* client, const char* const* expressions, size_t count,
                         int enumerate, infoclient_callback callback, void* context, int* id);
/* Once it returns (outside a callback), the subscription's callback runs no more. */
int infoclient_unsubscribe(infoclient* client, int id);

/* Keeps the values of the names matching expression in memory, so that infoclient_get
 * answers them without a call; the rules that keep them coherent with the service are at the
 * top of TInfoClient.h (TInfoClient::Cache). INFOCLIENT_INVALID_ARGUMENT for an empty
 * expression. */
int infoclient_cache(infoclient* client, const char* expression);
/* At most entries entries and bytes bytes of names and values in the cache (defaults
 * INFOCLIENT_CACHE_ENTRIES, INFOCLIENT_CACHE_BYTES); the least recently read go first. */
int infoclient_set_cache_limits(infoclient* client, size_t entries, size_t bytes);

/* The text of the last failure on this thread; "" when there was none. Valid until the next
 * call of the library on this thread. */
const char* infoclient_error_text(void);
void infoclient_free(void* memory);

#ifdef __cplusplus
}
#endif

#endif
