// Makes the information service reachable and serves it until its Stop(). The order matters
// to the platform and to whoever waits for the address file:
//   1. the information service object on the service's IPC server; its address is traced
//      ("Information Service address: <address>") and written to addressFile unless empty;
//   2. the platform component object, then the application observer object, both answered
//      by platform;
//   3. unless standalone, platform.Register with the three addresses (which aborts when the
//      environment lacks the service id or the name service);
//   4. the service's Run: every adapter gets its callback and is initialised, in list order,
//      before the first request is served.
// The three objects are served until Run returns; nothing is unregistered. Registration and
// initialisation failures propagate. Runs on the loop thread.
#pragma once

#include <string>

#include "daemon/TPlatformRegistration.h"
#include "service/TInformationService.h"

void ServeService(TInformationService& service, TPlatformRegistration& platform, bool standalone,
                  const std::string& addressFile);
