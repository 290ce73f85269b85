// The byte format of a fuzz input: one byte that picks a deliverable of the family, then
// a sequence of host operations, each an op byte followed by its fields (little-endian,
// read front to back). A field read past the end of the input reads as zero, and the
// session ends when the input is used up.
//
// Every op record lists its fields once, in `visit`, so the decoder in fuzz_host.cpp and
// the seed writer in make_seed_corpus.cpp cannot disagree about the layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qelfuzz {

enum Op : uint8_t {
  kOpInstantiate,          // code 11
  kOpDeInstantiate,        // code 12
  kOpProcessFrame,         // code 3
  kOpProcessFrameCopy,     // code 14
  kOpProcessMulti,         // code 16
  kOpSetParameter,         // code 8
  kOpGetParameter,         // code 9
  kOpGetParameterDisplay,  // code 7
  kOpLibraryCall,          // codes that need no instance, codes above 16, a zero instance ID
  kOpFrameRun,             // a run of in-place frames of the moving test picture
  kOpCount
};

// Picking an instance: the low bits index the live instances; with this bit set the call
// is made with instance ID 0 instead.
constexpr uint8_t kSelectNoInstance = 0x80;

// How a frame's pixels are made (low two bits of a content byte).
enum Content : uint8_t {
  kContentTestPicture,  // the moving test picture at the instance's next frame index
  kContentConstant,     // every byte the same: `fill`
  kContentInputBytes,   // up to 255 bytes taken from the fuzz input, tiled
  kContentNoise,        // xorshift noise seeded by `fill`
};

struct FrameContent {
  uint8_t mode;
  uint8_t fill;
  template <class IO>
  void visit(IO& io) {
    io(mode);
    io(fill);
  }
};

struct InstantiateOp {
  enum Flags : uint8_t { kNullVideoInfo = 1 };
  uint8_t sizeMode;  // 0: sides 0..64, 1: sides 0..400, 2: special width, 3: both special
  uint16_t width;
  uint16_t height;
  uint8_t depth;        // index into kDepthValues
  uint8_t orientation;  // index into kOrientationValues
  uint8_t flags;
  template <class IO>
  void visit(IO& io) {
    io(sizeMode);
    io(width);
    io(height);
    io(depth);
    io(orientation);
    io(flags);
  }
};

struct DeInstantiateOp {
  uint8_t select;
  template <class IO>
  void visit(IO& io) {
    io(select);
  }
};

struct ProcessFrameOp {
  enum Flags : uint8_t { kNullFrame = 1 };
  uint8_t select;
  uint8_t flags;
  FrameContent content;
  template <class IO>
  void visit(IO& io) {
    io(select);
    io(flags);
    content.visit(io);
  }
};

struct ProcessFrameCopyOp {
  enum Flags : uint8_t {
    kNullInputList = 1,
    kNullFirstInput = 2,
    kNullOutput = 4,
    kOutputIsFirstInput = 8,
  };
  uint8_t select;
  uint8_t numInputs;  // 0..3
  uint8_t flags;
  FrameContent content;
  template <class IO>
  void visit(IO& io) {
    io(select);
    io(numInputs);
    io(flags);
    content.visit(io);
  }
};

// One caller-made FrameSlot. Each field picks from a small table of values around the
// instance's format (see fuzz_host.cpp), so that matching and near-miss slots are common.
struct SlotRecipe {
  enum Flags : uint8_t {
    kPresent = 1,  // otherwise the slot pointer is null
    kNullData = 2,
    kReservedData = 4,  // reservedData points at a caller-owned block
  };
  uint8_t flags;
  uint8_t formatTag;
  uint8_t bytesPerPixel;
  uint8_t width;
  uint8_t height;
  template <class IO>
  void visit(IO& io) {
    io(flags);
    io(formatTag);
    io(bytesPerPixel);
    io(width);
    io(height);
  }
};

struct ProcessMultiOp {
  enum Address : uint8_t { kRecord, kZero, kChannelNumber };
  enum Flags : uint8_t {
    kOutputSlotIsInputSlot = 1,  // outputs[0] == inputs[0]
    kOutputDataIsInputData = 2,  // outputs[0]->data == inputs[0]->data (in place)
    kFillOtherSlots = 4,         // slots 1..count-1 point at caller slots too
  };
  uint8_t select;
  uint8_t address;     // Address, modulo 3
  uint16_t channel;    // the value passed for kChannelNumber
  uint8_t numInputs;   // index into kSlotCounts
  uint8_t numOutputs;  // index into kSlotCounts
  uint8_t flags;
  SlotRecipe input;
  SlotRecipe output;
  FrameContent content;
  template <class IO>
  void visit(IO& io) {
    io(select);
    io(address);
    io(channel);
    io(numInputs);
    io(numOutputs);
    io(flags);
    input.visit(io);
    output.visit(io);
    content.visit(io);
  }
};

struct SetParameterOp {
  enum Flags : uint8_t { kNullRecord = 1 };
  uint8_t select;
  uint8_t indexMode;  // 0, 1: index modulo N; 2: modulo N + 4; 3: the raw 32-bit index
  uint32_t index;
  uint8_t valueMode;  // 0: kSpecialFloats[bits % n], 1: bits mapped onto [0, 1],
                      // 2: bits mapped onto [-2, 3], 3: the raw bit pattern
  uint32_t bits;
  uint8_t flags;
  template <class IO>
  void visit(IO& io) {
    io(select);
    io(indexMode);
    io(index);
    io(valueMode);
    io(bits);
    io(flags);
  }
};

struct GetParameterOp {  // codes 9 and 7
  uint8_t select;
  uint8_t indexMode;
  uint32_t index;
  template <class IO>
  void visit(IO& io) {
    io(select);
    io(indexMode);
    io(index);
  }
};

struct LibraryCallOp {
  uint8_t code;  // 0..16 as is; 17..19: 17, 0xFFFFFFFF, `input` with the top bit set
  uint32_t input;
  uint8_t select;  // instance ID passed along (ignored by these codes), or 0
  template <class IO>
  void visit(IO& io) {
    io(code);
    io(input);
    io(select);
  }
};

struct FrameRunOp {
  enum Flags : uint8_t { kSweepParameters = 1, kCopyMode = 2 };
  uint8_t select;
  uint8_t frames;  // 1..32
  uint8_t flags;
  template <class IO>
  void visit(IO& io) {
    io(select);
    io(frames);
    io(flags);
  }
};

// Reads fields front to back; past the end every field reads as zero.
class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : data_(data), left_(size) {}
  bool empty() const { return left_ == 0; }
  void operator()(uint8_t& v) { v = static_cast<uint8_t>(next()); }
  void operator()(uint16_t& v) { v = static_cast<uint16_t>(next() | next() << 8); }
  void operator()(uint32_t& v) {
    uint32_t r = 0;
    for (int i = 0; i < 4; ++i) r |= next() << (8 * i);
    v = r;
  }
  // Up to `max` raw bytes.
  std::vector<uint8_t> take(size_t max) {
    const size_t n = max < left_ ? max : left_;
    std::vector<uint8_t> out(data_, data_ + n);
    data_ += n;
    left_ -= n;
    return out;
  }

 private:
  uint32_t next() {
    if (left_ == 0) return 0;
    --left_;
    return *data_++;
  }
  const uint8_t* data_;
  size_t left_;
};

// Appends fields in the same order.
class ByteWriter {
 public:
  void operator()(uint8_t v) { bytes.push_back(v); }
  void operator()(uint16_t v) {
    bytes.push_back(v & 0xFF);
    bytes.push_back(v >> 8);
  }
  void operator()(uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  template <class Record>
  void op(Op code, Record record) {
    bytes.push_back(code);
    record.visit(*this);
  }
  std::vector<uint8_t> bytes;
};

}  // namespace qelfuzz
