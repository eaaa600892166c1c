#pragma once

// The fixed parts of the ZIP records exactly as they stand on disk: one byte
// image per record with a little-endian getter and setter per field. Field
// names are the labels the analysis log prints ("Offset lfh" is offsetLfh()).
// All values are unsigned; offsets are from the start of the record.
//
// A default-constructed image is all zero bytes. To read a record from memory,
// check that kSize bytes lie inside the buffer first, then copyFrom() them.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "engine/byte_order.h"

namespace plimsy {

// Record sizes and signatures. Variable parts follow the fixed ones as noted.
inline constexpr std::size_t kLfhSize = 30;    // + filename + extra field
inline constexpr std::size_t kCdrSize = 46;    // + filename + extra field + comment
inline constexpr std::size_t kEcdSize = 22;    // + comment
inline constexpr std::size_t kEcd64Size = 56;  // + extensible data (never written)
inline constexpr std::size_t kEcdl64Size = 20;
inline constexpr std::size_t kLfhZip64Size = 20;  // the ZIP64 extra field as local headers carry it

inline constexpr std::uint32_t kLfhSignature = 0x04034B50;
inline constexpr std::uint32_t kCdrSignature = 0x02014B50;
inline constexpr std::uint32_t kEcdSignature = 0x06054B50;
inline constexpr std::uint32_t kEcd64Signature = 0x06064B50;
inline constexpr std::uint32_t kEcdl64Signature = 0x07064B50;

// Extra-field header IDs.
inline constexpr std::uint16_t kZip64ExtraId = 0x0001;
inline constexpr std::uint16_t kNtfsExtraId = 0x000A;

// A 32-bit (16-bit) field holding all ones says that the real value is a
// 64-bit one kept elsewhere (the ZIP64 extra field or the Ecd64).
inline constexpr std::uint16_t kAllOnes16 = 0xFFFF;
inline constexpr std::uint32_t kAllOnes32 = 0xFFFFFFFF;
// A 64-bit ZIP64 slot holding all ones holds no value.
inline constexpr std::uint64_t kNoZip64Value = 0xFFFFFFFFFFFFFFFF;

// The Ecd64's Size field counts the bytes after itself: 56 less the 4-byte
// signature and the 8-byte Size.
inline constexpr std::uint64_t kEcd64SizeFieldValue = kEcd64Size - 12;

// ZIP version 4.5 (ZIP64), host system 0 (MS-DOS); 1.0 stored; 2.0 deflated.
inline constexpr std::uint16_t kVersionZip64 = 45;
inline constexpr std::uint16_t kVersionStored = 10;
inline constexpr std::uint16_t kVersionDeflated = 20;

inline constexpr std::uint16_t kMethodStored = 0;
inline constexpr std::uint16_t kMethodDeflated = 8;

// The byte image shared by all records. Field access is checked against the
// record's size when the code is compiled.
template <std::size_t N>
class RecordImage {
 public:
  static constexpr std::size_t kSize = N;

  std::array<std::uint8_t, N> bytes{};

  const std::uint8_t* data() const { return bytes.data(); }
  // Copies N bytes; the caller has made sure that they lie in its buffer.
  void copyFrom(const std::uint8_t* source) { std::memcpy(bytes.data(), source, N); }

  bool operator==(const RecordImage&) const = default;

 protected:
  template <std::size_t At>
  std::uint16_t get16() const {
    static_assert(At + 2 <= N);
    return loadLe16(bytes.data() + At);
  }
  template <std::size_t At>
  std::uint32_t get32() const {
    static_assert(At + 4 <= N);
    return loadLe32(bytes.data() + At);
  }
  template <std::size_t At>
  std::uint64_t get64() const {
    static_assert(At + 8 <= N);
    return loadLe64(bytes.data() + At);
  }
  template <std::size_t At>
  void set16(std::uint16_t v) {
    static_assert(At + 2 <= N);
    storeLe16(bytes.data() + At, v);
  }
  template <std::size_t At>
  void set32(std::uint32_t v) {
    static_assert(At + 4 <= N);
    storeLe32(bytes.data() + At, v);
  }
  template <std::size_t At>
  void set64(std::uint64_t v) {
    static_assert(At + 8 <= N);
    storeLe64(bytes.data() + At, v);
  }
};

// Local file header.
class Lfh : public RecordImage<kLfhSize> {
 public:
  std::uint32_t signature() const { return get32<0>(); }
  std::uint16_t versionToExtract() const { return get16<4>(); }
  std::uint16_t generalFlags() const { return get16<6>(); }
  std::uint16_t compressionMethod() const { return get16<8>(); }
  std::uint16_t time() const { return get16<10>(); }
  std::uint16_t date() const { return get16<12>(); }
  std::uint32_t crc() const { return get32<14>(); }
  std::uint32_t compressedSize() const { return get32<18>(); }
  std::uint32_t uncompressedSize() const { return get32<22>(); }
  std::uint16_t filenameLength() const { return get16<26>(); }
  std::uint16_t extraFieldLength() const { return get16<28>(); }

  void setSignature(std::uint32_t v) { set32<0>(v); }
  void setVersionToExtract(std::uint16_t v) { set16<4>(v); }
  void setGeneralFlags(std::uint16_t v) { set16<6>(v); }
  void setCompressionMethod(std::uint16_t v) { set16<8>(v); }
  void setTime(std::uint16_t v) { set16<10>(v); }
  void setDate(std::uint16_t v) { set16<12>(v); }
  void setCrc(std::uint32_t v) { set32<14>(v); }
  void setCompressedSize(std::uint32_t v) { set32<18>(v); }
  void setUncompressedSize(std::uint32_t v) { set32<22>(v); }
  void setFilenameLength(std::uint16_t v) { set16<26>(v); }
  void setExtraFieldLength(std::uint16_t v) { set16<28>(v); }

  // Either size field holds 0xFFFFFFFF: the header carries (or must carry)
  // the ZIP64 extra field.
  bool usesZip64() const { return compressedSize() == kAllOnes32 || uncompressedSize() == kAllOnes32; }
};

// The ZIP64 extra field as a local header carries it: both sizes, 20 bytes.
class LfhZip64 : public RecordImage<kLfhZip64Size> {
 public:
  std::uint16_t headerId() const { return get16<0>(); }
  std::uint16_t dataSize() const { return get16<2>(); }
  std::uint64_t uncompressedSize() const { return get64<4>(); }
  std::uint64_t compressedSize() const { return get64<12>(); }

  void setHeaderId(std::uint16_t v) { set16<0>(v); }
  void setDataSize(std::uint16_t v) { set16<2>(v); }
  void setUncompressedSize(std::uint64_t v) { set64<4>(v); }
  void setCompressedSize(std::uint64_t v) { set64<12>(v); }
};

// Central directory record.
class Cdr : public RecordImage<kCdrSize> {
 public:
  std::uint32_t signature() const { return get32<0>(); }
  std::uint16_t versionMadeBy() const { return get16<4>(); }
  std::uint16_t versionToExtract() const { return get16<6>(); }
  std::uint16_t generalFlags() const { return get16<8>(); }
  std::uint16_t compressionMethod() const { return get16<10>(); }
  std::uint16_t time() const { return get16<12>(); }
  std::uint16_t date() const { return get16<14>(); }
  std::uint32_t crc() const { return get32<16>(); }
  std::uint32_t compressedSize() const { return get32<20>(); }
  std::uint32_t uncompressedSize() const { return get32<24>(); }
  std::uint16_t filenameLength() const { return get16<28>(); }
  std::uint16_t extraFieldLength() const { return get16<30>(); }
  std::uint16_t commentLength() const { return get16<32>(); }
  std::uint16_t diskNumber() const { return get16<34>(); }
  std::uint16_t internalAttr() const { return get16<36>(); }
  std::uint32_t externalAttr() const { return get32<38>(); }
  std::uint32_t offsetLfh() const { return get32<42>(); }

  void setSignature(std::uint32_t v) { set32<0>(v); }
  void setVersionMadeBy(std::uint16_t v) { set16<4>(v); }
  void setVersionToExtract(std::uint16_t v) { set16<6>(v); }
  void setGeneralFlags(std::uint16_t v) { set16<8>(v); }
  void setCompressionMethod(std::uint16_t v) { set16<10>(v); }
  void setTime(std::uint16_t v) { set16<12>(v); }
  void setDate(std::uint16_t v) { set16<14>(v); }
  void setCrc(std::uint32_t v) { set32<16>(v); }
  void setCompressedSize(std::uint32_t v) { set32<20>(v); }
  void setUncompressedSize(std::uint32_t v) { set32<24>(v); }
  void setFilenameLength(std::uint16_t v) { set16<28>(v); }
  void setExtraFieldLength(std::uint16_t v) { set16<30>(v); }
  void setCommentLength(std::uint16_t v) { set16<32>(v); }
  void setDiskNumber(std::uint16_t v) { set16<34>(v); }
  void setInternalAttr(std::uint16_t v) { set16<36>(v); }
  void setExternalAttr(std::uint32_t v) { set32<38>(v); }
  void setOffsetLfh(std::uint32_t v) { set32<42>(v); }

  // A size or the offset field holds 0xFFFFFFFF, or the disk number 0xFFFF.
  bool usesZip64() const {
    return compressedSize() == kAllOnes32 || uncompressedSize() == kAllOnes32 || offsetLfh() == kAllOnes32 ||
           diskNumber() == kAllOnes16;
  }
  // The bytes of the record with its filename, extra field and comment.
  std::uint64_t totalSize() const {
    return kCdrSize + std::uint64_t{filenameLength()} + extraFieldLength() + commentLength();
  }
};

// End of central directory record.
class Ecd : public RecordImage<kEcdSize> {
 public:
  std::uint32_t signature() const { return get32<0>(); }
  std::uint16_t diskNumber() const { return get16<4>(); }
  std::uint16_t diskCdStart() const { return get16<6>(); }
  std::uint16_t qtyCdEntriesThisDisk() const { return get16<8>(); }
  std::uint16_t totalQtyCdEntries() const { return get16<10>(); }
  std::uint32_t cdSize() const { return get32<12>(); }
  std::uint32_t cdOffset() const { return get32<16>(); }
  std::uint16_t commentLength() const { return get16<20>(); }

  void setSignature(std::uint32_t v) { set32<0>(v); }
  void setDiskNumber(std::uint16_t v) { set16<4>(v); }
  void setDiskCdStart(std::uint16_t v) { set16<6>(v); }
  void setQtyCdEntriesThisDisk(std::uint16_t v) { set16<8>(v); }
  void setTotalQtyCdEntries(std::uint16_t v) { set16<10>(v); }
  void setCdSize(std::uint32_t v) { set32<12>(v); }
  void setCdOffset(std::uint32_t v) { set32<16>(v); }
  void setCommentLength(std::uint16_t v) { set16<20>(v); }

  // Some field holds its all-ones value: the archive needs (or has) the
  // ZIP64 end records.
  bool usesZip64() const {
    return diskNumber() == kAllOnes16 || diskCdStart() == kAllOnes16 || qtyCdEntriesThisDisk() == kAllOnes16 ||
           totalQtyCdEntries() == kAllOnes16 || cdSize() == kAllOnes32 || cdOffset() == kAllOnes32;
  }
};

// ZIP64 end of central directory record.
class Ecd64 : public RecordImage<kEcd64Size> {
 public:
  std::uint32_t signature() const { return get32<0>(); }
  std::uint64_t size() const { return get64<4>(); }  // the "Size" field, bytes after itself
  std::uint16_t versionMadeBy() const { return get16<12>(); }
  std::uint16_t versionToExtract() const { return get16<14>(); }
  std::uint32_t diskNumber() const { return get32<16>(); }
  std::uint32_t diskCdStart() const { return get32<20>(); }
  std::uint64_t qtyCdEntriesThisDisk() const { return get64<24>(); }
  std::uint64_t totalQtyCdEntries() const { return get64<32>(); }
  std::uint64_t cdSize() const { return get64<40>(); }
  std::uint64_t cdOffset() const { return get64<48>(); }

  void setSignature(std::uint32_t v) { set32<0>(v); }
  void setSize(std::uint64_t v) { set64<4>(v); }
  void setVersionMadeBy(std::uint16_t v) { set16<12>(v); }
  void setVersionToExtract(std::uint16_t v) { set16<14>(v); }
  void setDiskNumber(std::uint32_t v) { set32<16>(v); }
  void setDiskCdStart(std::uint32_t v) { set32<20>(v); }
  void setQtyCdEntriesThisDisk(std::uint64_t v) { set64<24>(v); }
  void setTotalQtyCdEntries(std::uint64_t v) { set64<32>(v); }
  void setCdSize(std::uint64_t v) { set64<40>(v); }
  void setCdOffset(std::uint64_t v) { set64<48>(v); }
};

// ZIP64 end of central directory locator.
class Ecdl64 : public RecordImage<kEcdl64Size> {
 public:
  std::uint32_t signature() const { return get32<0>(); }
  std::uint32_t diskNumber() const { return get32<4>(); }
  std::uint64_t offsetOfEcd64() const { return get64<8>(); }
  std::uint32_t numberOfDisks() const { return get32<16>(); }

  void setSignature(std::uint32_t v) { set32<0>(v); }
  void setDiskNumber(std::uint32_t v) { set32<4>(v); }
  void setOffsetOfEcd64(std::uint64_t v) { set64<8>(v); }
  void setNumberOfDisks(std::uint32_t v) { set32<16>(v); }
};

}  // namespace plimsy
