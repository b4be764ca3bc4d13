// The service's one exception family. TException is the base of every failure raised inside
// the process; the dispatchable branch carries the numeric code a client receives over the
// IPC (201 unknown object or malformed request, 202 storage limit, 203 permission denied,
// 207 file failure); TVerboseException carries a composed text and a code for internal
// failures such as a file that cannot be mapped. Every exception copies its text, so a message
// composed on the stack stays valid for as long as the exception lives.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

class TException : public std::exception {
 public:
  explicit TException(const char* text);
  explicit TException(std::string text);
  ~TException() override;

  const char* what() const noexcept override;
  virtual const char* GetText() const noexcept;

 private:
  std::string text_;
};

// A failure on behalf of a client: it is not traced and travels to the IPC runtime, which
// answers the calling client with the code and the text.
class TDispatchableException : public TException {
 public:
  explicit TDispatchableException(const char* text);
  explicit TDispatchableException(std::string text);
  ~TDispatchableException() override;

  virtual uint16_t GetCode() const noexcept = 0;
};

template <uint16_t kCode>
class TDispatchableExceptionTemplate final : public TDispatchableException {
 public:
  explicit TDispatchableExceptionTemplate(const char* text) : TDispatchableException(text) {}
  explicit TDispatchableExceptionTemplate(std::string text)
      : TDispatchableException(std::move(text)) {}

  uint16_t GetCode() const noexcept override { return kCode; }
};

// 201: a name that no adapter holds, or a malformed expression, address or value.
using TUnknownObjectException = TDispatchableExceptionTemplate<201>;
// 202: a request refused by a storage limit.
using TStorageLimitException = TDispatchableExceptionTemplate<202>;
// 203: a request the access policy does not allow the caller ("Permission denied").
using TPermissionDeniedException = TDispatchableExceptionTemplate<203>;
// 207: a file-system failure on behalf of a request.
using TFileException = TDispatchableExceptionTemplate<207>;

// A dispatchable exception whose code is only known at run time: what the IPC client raises
// when a served call answered with an error code.
class TRemoteException final : public TDispatchableException {
 public:
  TRemoteException(uint16_t code, std::string text);
  uint16_t GetCode() const noexcept override { return code_; }

 private:
  uint16_t code_;
};

class TVerboseException final : public TException {
 public:
  explicit TVerboseException(const char* text, int code = 0);
  explicit TVerboseException(std::string text, int code = 0);
  ~TVerboseException() override;

  int GetCode() const noexcept { return code_; }

 private:
  int code_;
};

// Builds "<context>: <strerror(errnum)>" so that every errno report names what failed (the
// path, the address) in the same way.
std::string ErrnoMessage(const std::string& context, int errnum);
