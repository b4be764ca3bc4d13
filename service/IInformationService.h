// The information-service interface the daemon serves over the IPC: exactly the platform's
// IToiInformationService. It exists so that the service's own code names one interface of its
// own; the operations, their failures and their ownership rules are those of the base.
#pragma once

#include "toi/IToiInformationService.h"

class IInformationService : public IToiInformationService {
 protected:
  IInformationService() = default;
};
