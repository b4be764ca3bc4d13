// Read access to the box's own information objects, for what a receiving channel compares
// with a datagram's filters (addresses, versions, time zone) and for its product identifier.
// The Infocast adapter implements it over the information service. Called on the loop thread;
// must not call back into the channel.
#pragma once

#include <string>

class IInformationObjectReader {
 public:
  // The object's value. Throws an exception of the TException family when no adapter holds
  // the name.
  virtual std::string GetObject(const std::string& name) = 0;
  virtual ~IInformationObjectReader() = default;

 protected:
  IInformationObjectReader() = default;
  IInformationObjectReader(const IInformationObjectReader&) = delete;
  IInformationObjectReader& operator=(const IInformationObjectReader&) = delete;
};
