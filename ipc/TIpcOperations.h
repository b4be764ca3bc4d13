// The one list of an interface's operations on the wire, in a protocol (TInformationServiceProtocol
// and its siblings): the operation number of a member is its position in the list plus one.
// Callers and dispatchers name an operation by its member pointer and the number is found in
// the list at compile time, so the list cannot disagree with anything:
//
//   using TOperations = TIpcOperations<&I::Get, &I::Set>;
//   TOperations::kNumber<&I::Set>   == 2
//   TOperations::kNumber<&J::Other>    does not compile: not in the list
//   TIpcOperations<&I::Get, &I::Get>   does not compile: listed twice
//
// Two operations with the same signature stay apart, since the members differ. New operations
// go at the end: reordering changes the numbers that peers built earlier send.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <tuple>
#include <type_traits>

template <auto... Methods>
class TIpcOperations final {
  template <auto Method>
  struct TTag {};

  // How often Method is listed.
  template <auto Method>
  static constexpr size_t Count() {
    return (size_t{0} + ... + (std::is_same_v<TTag<Method>, TTag<Methods>> ? 1 : 0));
  }

  // The position of Method in the list.
  template <auto Method>
  static constexpr size_t IndexOf() {
    constexpr bool matches[] = {std::is_same_v<TTag<Method>, TTag<Methods>>...};
    size_t index = 0;
    while (!matches[index]) ++index;
    return index;
  }

 public:
  static constexpr size_t kCount = sizeof...(Methods);
  static_assert(kCount > 0 && kCount <= std::numeric_limits<uint16_t>::max(),
                "a protocol has 1 to 65535 operations");
  // The members in wire order: std::get<K>(kMethods) has the number K + 1.
  static constexpr auto kMethods = std::make_tuple(Methods...);

  // The wire number of the operation Method.
  template <auto Method>
  static constexpr uint16_t Number() {
    static_assert(Count<Method>() == 1, "the operation is not in the protocol's list once");
    return static_cast<uint16_t>(IndexOf<Method>() + 1);
  }
  template <auto Method>
  static constexpr uint16_t kNumber = Number<Method>();

 private:
  static_assert(((Count<Methods>() == 1) && ...), "an operation is listed twice");
};
