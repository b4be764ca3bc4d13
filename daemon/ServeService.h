// Makes the information service reachable. The order matters to the platform and to whoever
// waits for the address file:
//   1. the information service object on the server; its address is traced
//      ("Information Service address: <address>") and written to addressFile unless empty;
//   2. the platform component object, then the application observer object, both answered
//      by platform;
//   3. unless standalone, platform.Register with the three addresses (which aborts when the
//      environment lacks the service id or the name service);
//   4. the service's Start: every adapter gets its callback and is initialised, in list
//      order, before the first request is served.
// The objects are served while the returned value lives, whenever the loop runs; nothing is
// unregistered. Registration and initialisation failures propagate. Runs on the loop thread.
#pragma once

#include <memory>
#include <string>

#include "daemon/TPlatformRegistration.h"
#include "ipc/IIpcServer.h"
#include "service/TInformationService.h"
#include "toi/TInformationServiceDispatcher.h"
#include "toi/TPlatformComponentDispatcher.h"
#include "toi/TToiApplicationObserverDispatcher.h"

struct TServedObjects {
  std::unique_ptr<TInformationServiceDispatcher> service;
  std::unique_ptr<TPlatformComponentDispatcher> component;
  std::unique_ptr<TToiApplicationObserverDispatcher> observer;
};

TServedObjects ServeService(TInformationService& service, TPlatformRegistration& platform,
                            IIpcServer& server, bool standalone, const std::string& addressFile);
