// Prints the value of NAME, then a line per change of an object matching PATTERN, through the
// C++ interface of the information service's client library. Stops after COUNT changes when
// a count is given, else at Ctrl-C or SIGTERM. The service is found through
// $INFOSERVICE_ADDRESS (or $NAMESERVICE_ADDRESS).
//
//   c++ -std=c++17 value-watch.cpp $(pkg-config --cflags --libs infoservice) -o value-watch-cpp
//   INFOSERVICE_ADDRESS=$(cat /tmp/infoservice-run/address) ./value-watch-cpp cfg.locale.ui 'cfg.*'
#include <infoservice/TInfoClient.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: %s NAME PATTERN [COUNT]\n", argv[0]);
    return 2;
  }
  long remaining = argc == 4 ? std::stol(argv[3]) : -1;  // -1: no limit

  // The signals that end the program are taken by sigwait below, not by a handler.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  sigprocmask(SIG_BLOCK, &stop, nullptr);

  infoservice::TInfoClient client;
  try {
    std::printf("%s=%s\n", argv[1], client.Get(argv[1]).c_str());
    // The callback runs on the library's thread, one call at a time.
    const int id = client.Subscribe({argv[2]}, [&remaining](infoservice::TInfoClient::TEvent event,
                                                            const std::string& name) {
      std::printf("%s %s\n", event == infoservice::TInfoClient::eChanged ? "changed" : "removed",
                  name.c_str());
      std::fflush(stdout);
      if (remaining > 0 && --remaining == 0) kill(getpid(), SIGTERM);
    });
    std::printf("watching %s\n", argv[2]);
    std::fflush(stdout);
    int signal = 0;
    sigwait(&stop, &signal);
    client.Unsubscribe(id);
  } catch (const infoservice::TInfoError& e) {
    std::fprintf(stderr, "error %d: %s\n", e.GetCode(), e.GetText().c_str());
    return 1;
  }
  return 0;
}
