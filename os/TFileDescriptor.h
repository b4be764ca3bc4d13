// Move-only owner of one file descriptor: closes it in the destructor. The constructor takes
// over the descriptor it is given (-1 for none). Close() reports the result of close(2),
// which matters for a file just written: delayed write errors surface there.
#pragma once

class TFileDescriptor final {
 public:
  explicit TFileDescriptor(int descriptor = -1) : descriptor_(descriptor) {}
  ~TFileDescriptor();
  TFileDescriptor(TFileDescriptor&& other) noexcept;
  TFileDescriptor& operator=(TFileDescriptor&& other) noexcept;
  TFileDescriptor(const TFileDescriptor&) = delete;
  TFileDescriptor& operator=(const TFileDescriptor&) = delete;

  int Get() const { return descriptor_; }
  bool IsOpen() const { return descriptor_ >= 0; }
  // 0, or -1 with errno set when close(2) failed; 0 when nothing was open.
  int Close();

 private:
  int descriptor_;
};
