// The extension point of the payload encoding. TIpcWriter and TIpcReader know bool, int32_t,
// uint16_t, std::string and lists (std::vector) of what they know; any other type is encoded
// by a specialisation of TIpcCodec, declared by the layer that owns the type in a header that
// the protocol using the type includes:
//
//   template <>
//   struct TIpcCodec<TPoint> {
//     static constexpr size_t kMinimumSize = 8;  // the fewest bytes one value takes
//     static void Encode(TIpcWriter& writer, const TPoint& value);  // Put its fields
//     static void Decode(TIpcReader& reader, TPoint& value);        // Get them, same order
//   };
//
// The primary template is declared only: a type without a codec does not compile, so nothing
// goes on the wire by an implicit conversion. kMinimumSize bounds a list's count against the
// bytes left before anything is allocated for it; it must not exceed the real encoding.
#pragma once

template <typename T>
struct TIpcCodec;
