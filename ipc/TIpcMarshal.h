// Marshalling of an interface's operations, derived from the operations' own signatures: a
// parameter taken by value or by const reference is an argument (caller to server), one taken
// by non-const reference is a result (server to caller), both in declaration order. Each
// interface has one protocol (TInformationServiceProtocol and its siblings) whose TOperations
// (TIpcOperations) list its operations in wire order. Callers and dispatchers both go through
// here, so an interface is marshalled in exactly one place.
//
// Example: GetObject(const std::string& name, std::string& value) sends name and receives
// value; SetObject(name, value, TStorageType) sends all three and receives nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <tuple>
#include <type_traits>
#include <utility>

#include "ipc/TIpcReader.h"
#include "ipc/TIpcWriter.h"

class TIpcMarshal final {
 public:
  template <typename P>
  static constexpr bool kIsResult =
      std::is_lvalue_reference_v<P> && !std::is_const_v<std::remove_reference_t<P>>;
  template <typename P>
  using TValue = std::remove_cv_t<std::remove_reference_t<P>>;

  // Caller side: writes the arguments among args, which match the operation's parameters.
  template <typename I, typename... P, typename... A>
  static void EncodeArguments(void (I::*)(P...), TIpcWriter& writer, const A&... args) {
    static_assert(sizeof...(P) == sizeof...(A), "argument count differs from the operation");
    (EncodeArgument<P>(writer, args), ...);
  }

  // Caller side: reads the results into the result parameters among args.
  template <typename I, typename... P, typename... A>
  static void DecodeResults(void (I::*)(P...), TIpcReader& reader, A&&... args) {
    static_assert(sizeof...(P) == sizeof...(A), "argument count differs from the operation");
    (DecodeResult<P>(reader, args), ...);
    reader.ExpectEnd();
  }

  template <typename I, typename... P>
  static constexpr bool HasResults(void (I::*)(P...)) {
    return (kIsResult<P> || ...);
  }

  // Server side: decodes the arguments of operation (1-based) of the protocol, calls impl and
  // encodes the results. False for an unknown operation. Throws TIpcProtocolError when the
  // arguments do not decode (impl is then not called) and whatever impl throws.
  template <typename Protocol>
  static bool Serve(typename Protocol::TInterface& impl, uint16_t operation, TIpcReader& reader,
                    TIpcWriter& writer) {
    return ServeIndex<Protocol>(impl, operation, reader, writer,
                                std::make_index_sequence<Protocol::TOperations::kCount>{});
  }

 private:
  template <typename P, typename A>
  static void EncodeArgument(TIpcWriter& writer, const A& arg) {
    if constexpr (!kIsResult<P>) writer.Put(static_cast<const TValue<P>&>(arg));
  }

  template <typename P, typename A>
  static void DecodeResult(TIpcReader& reader, A& arg) {
    if constexpr (kIsResult<P>) reader.Get(arg);
  }

  template <typename... P, typename Tuple, size_t... K>
  static void DecodeArguments(TIpcReader& reader, Tuple& values, std::index_sequence<K...>) {
    (DecodeArgumentValue<P>(reader, std::get<K>(values)), ...);
  }

  template <typename P, typename V>
  static void DecodeArgumentValue(TIpcReader& reader, V& value) {
    if constexpr (!kIsResult<P>) reader.Get(value);
  }

  template <typename... P, typename Tuple, size_t... K>
  static void EncodeResults(TIpcWriter& writer, const Tuple& values, std::index_sequence<K...>) {
    (EncodeResultValue<P>(writer, std::get<K>(values)), ...);
  }

  template <typename P, typename V>
  static void EncodeResultValue(TIpcWriter& writer, const V& value) {
    if constexpr (kIsResult<P>) writer.Put(value);
  }

  template <typename I, typename... P>
  static void ServeOne(I& impl, void (I::*operation)(P...), TIpcReader& reader,
                       TIpcWriter& writer) {
    std::tuple<TValue<P>...> values;
    DecodeArguments<P...>(reader, values, std::index_sequence_for<P...>{});
    reader.ExpectEnd();
    std::apply([&](auto&... value) { (impl.*operation)(value...); }, values);
    EncodeResults<P...>(writer, values, std::index_sequence_for<P...>{});
  }

  template <typename Protocol, size_t... K>
  static bool ServeIndex(typename Protocol::TInterface& impl, uint16_t operation,
                         TIpcReader& reader, TIpcWriter& writer, std::index_sequence<K...>) {
    return (
        (operation == K + 1
             ? (ServeOne(impl, std::get<K>(Protocol::TOperations::kMethods), reader, writer), true)
             : false) ||
        ...);
  }
};
