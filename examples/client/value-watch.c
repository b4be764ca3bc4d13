/* Prints the value of NAME, then a line per change of an object matching PATTERN, through the
 * C interface of the information service's client library. Stops after COUNT changes when a
 * count is given, else at Ctrl-C or SIGTERM. The service is found through
 * $INFOSERVICE_ADDRESS (or $NAMESERVICE_ADDRESS).
 *
 *   cc value-watch.c $(pkg-config --cflags --libs infoservice) -o value-watch-c
 *   INFOSERVICE_ADDRESS=$(cat /tmp/infoservice-run/address) ./value-watch-c cfg.locale.ui 'cfg.*'
 */
#define _POSIX_C_SOURCE 200809L
#include <infoservice/infoclient.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

static long remaining = -1; /* changes left to print; -1: no limit */

/* Runs on the library's thread, one call at a time. */
static void changed(void* context, int event, const char* name) {
  (void)context;
  printf("%s %s\n", event == INFOCLIENT_CHANGED ? "changed" : "removed", name);
  fflush(stdout);
  if (remaining > 0 && --remaining == 0) kill(getpid(), SIGTERM);
}

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    fprintf(stderr, "usage: %s NAME PATTERN [COUNT]\n", argv[0]);
    return 2;
  }
  if (argc == 4) remaining = strtol(argv[3], NULL, 10);

  /* The signals that end the program are taken by sigwait below, not by a handler. */
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  sigprocmask(SIG_BLOCK, &stop, NULL);

  infoclient* client = infoclient_open(NULL);
  if (client == NULL) {
    fprintf(stderr, "cannot open the client: %s\n", infoclient_error_text());
    return 1;
  }
  char* value = NULL;
  int code = infoclient_get(client, argv[1], &value, NULL);
  if (code != INFOCLIENT_OK) {
    fprintf(stderr, "get %s: error %d: %s\n", argv[1], code, infoclient_error_text());
    infoclient_close(client);
    return 1;
  }
  printf("%s=%s\n", argv[1], value);
  infoclient_free(value);

  const char* patterns[] = {argv[2]};
  int id = 0;
  code = infoclient_subscribe(client, patterns, 1, 0, changed, NULL, &id);
  if (code != INFOCLIENT_OK) {
    fprintf(stderr, "subscribe %s: error %d: %s\n", argv[2], code, infoclient_error_text());
    infoclient_close(client);
    return 1;
  }
  printf("watching %s\n", argv[2]);
  fflush(stdout);

  int signal = 0;
  sigwait(&stop, &signal);
  infoclient_unsubscribe(client, id);
  infoclient_close(client);
  return 0;
}
