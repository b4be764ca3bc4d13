// The facts of the running system: the time and free memory (computed on every read), the
// MAC address of eth0, the target architecture and firmware version from the HAL, the screen
// size implied by the colour system, and the safe, portal and visible screen areas derived
// from it. Everything but the two computed objects is fixed at start-up; the computed ones
// are held in the map with empty values so that reads are routed here. Takes no writes. Runs
// on the loop thread.
//
// Screen size: width 720; height 480 when the colour system (the user parameter
// usercolorcoding, else the production parameter currentcolorcoding, else "PAL") begins with
// "NTSC" or is "PAL-M", both ignoring case, otherwise 576. The host environment has no HAL
// and takes 720 x 576.
// Areas, in unsigned integers: the safe area is 85 % of the screen, rounded half up
// (SW = (W * 17 + 10) / 20), centred with truncating halves; the portal area is the screen.
//   720 x 576 -> safe and visible 612 x 490 at (54, 43);  720 x 480 -> 612 x 408 at (54, 36)
#pragma once

#include <string>

#include "os/IClock.h"
#include "os/ISystemFacts.h"
#include "service/TInformationAdapter.h"

class TOsAdapter final : public TInformationAdapter {
 public:
  // Keeps the flag and the seams (not owned; they must outlive the adapter); reads nothing.
  explicit TOsAdapter(bool hostEnvironment, const ISystemFacts& system = ISystemFacts::System(),
                      const IClock& clock = IClock::System());
  ~TOsAdapter() override;

  // IInformationAdapter
  // Fills the map. On the box a missing eth0 address or HAL system information ends the
  // process after a fatal trace: the box cannot be told apart without them. In the host
  // environment a missing eth0 is a warning and another interface's address stands in.
  void InitializeObjects() override;
  // var.utctime and var.memfree are computed now (a failed memory query leaves value as it
  // was and still answers true); every other name is the map lookup.
  bool GetObject(const std::string& name, std::string& value) const override;
  // True for var.utctime and var.memfree.
  bool IsComputedOnRead(const std::string& name) const override;

  std::string ConvertUint32ToString(unsigned int n) const;
  // "%02x:%02x:%02x:%02x:%02x:%02x".
  static std::string FormatHardwareAddress(const ISystemFacts::THardwareAddress& address);

 private:
  void InitializeEth0Objects();
  void InitializeHalObjects();
  void InitializeVarObjects();
  void InitializeDerivedObjects();
  std::string ReadColorSystem() const;
  // The host's stand-in for eth0: the first other interface that has a real hardware address.
  std::string FallbackHardwareAddress() const;

  bool hostEnvironment_;
  const ISystemFacts& system_;
  const IClock& clock_;
};
