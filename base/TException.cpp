#include "base/TException.h"

#include <cstring>

TException::TException(const char* text) : text_(text ? text : "") {}
TException::TException(std::string text) : text_(std::move(text)) {}
TException::~TException() = default;
const char* TException::what() const noexcept { return text_.c_str(); }
const char* TException::GetText() const noexcept { return text_.c_str(); }

TDispatchableException::TDispatchableException(const char* text) : TException(text) {}
TDispatchableException::TDispatchableException(std::string text) : TException(std::move(text)) {}
TDispatchableException::~TDispatchableException() = default;

TRemoteException::TRemoteException(uint16_t code, std::string text)
    : TDispatchableException(std::move(text)), code_(code) {}

TVerboseException::TVerboseException(const char* text, int code) : TException(text), code_(code) {}
TVerboseException::TVerboseException(std::string text, int code)
    : TException(std::move(text)), code_(code) {}
TVerboseException::~TVerboseException() = default;

std::string ErrnoMessage(const std::string& context, int errnum) {
  return context + ": " + std::strerror(errnum);
}
