// The box's objects read through the information service, for the receiving channels'
// filters and the management monitor: the one reader that sits on the service. Holds the
// service without owning it; runs on the loop thread.
#pragma once

#include <string>

#include "infocast/IInformationObjectReader.h"
#include "service/IInformationService.h"

class TServiceObjectReader final : public IInformationObjectReader {
 public:
  // service must outlive the reader.
  explicit TServiceObjectReader(IInformationService& service) : service_(service) {}

  // IInformationObjectReader: the service's answer; its refusals (201, 202) pass through.
  std::string GetObject(const std::string& name) override;

 private:
  IInformationService& service_;
};
