// Several host threads at once: instances of every deliverable, each driven by its own
// thread through every frame entry, while other threads create and destroy instances and
// read the identity records. Built with ThreadSanitizer (QEL_TSAN) any data race fails
// the run; in every build an instance's output must not depend on what the other
// instances do.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/harness/plugin_host.h"
#include "tests/harness/test_frames.h"

namespace qeltest {
namespace {

constexpr int kFrames = 24;

struct Format {
  uint32_t width;
  uint32_t height;
  int bytesPerPixel;
  uint32_t orientation;
};

// Large enough for the effects' row passes to start their OpenMP teams.
constexpr Format kFormatA = {160, 120, 4, FF_ORIENTATION_TL};
constexpr Format kFormatB = {128, 96, 3, FF_ORIENTATION_BL};

// Inferno and Stains draw on the C library's rand(), one generator for the whole process,
// so their pictures depend on how the threads interleave. The Particles effects use no
// shared state and must produce the same bytes on any thread, next to anything else.
bool isSelfContained(const std::string& name) {
  return name.rfind("QelParticles", 0) == 0;
}

// Everything one host thread saw.
struct Outcome {
  bool instantiated = false;
  int failedFrames = 0;
  int badReads = 0;
  uint32_t crc = 0;
};

// A fixed script over one instance: parameters moving through (and past) their range,
// frames through the in-place, copy (with 1 to 3 inputs) and multi-frame entries, and the
// reads a host makes between frames.
Outcome runScript(const PluginLibrary& library, const Format& format) {
  Outcome outcome;
  Instance instance(library, format.width, format.height, format.bytesPerPixel, format.orientation);
  if (!instance.valid()) return outcome;
  outcome.instantiated = true;
  const uint32_t params = library.numParameters();
  const size_t bytes = instance.frameBytes();
  std::vector<uint8_t> input(bytes), second(bytes, 0x40), output(bytes);
  for (int f = 0; f < kFrames; ++f) {
    for (uint32_t i = 0; i < params; ++i) {
      // -0.25 .. 1.25 in steps of 1/8, each parameter at its own phase.
      const float value = -0.25f + 0.125f * static_cast<float>((f + 3 * static_cast<int>(i)) % 13);
      if (instance.setParameter(i, value) != FF_SUCCESS) ++outcome.badReads;
    }
    renderTestFrame(input.data(), static_cast<int>(format.width), static_cast<int>(format.height),
                    format.bytesPerPixel, f);
    uint32_t status = FF_FAIL;
    switch (f % 3) {
      case 0:
        status = instance.processFrame(input.data());
        output = input;
        break;
      case 1: {
        std::vector<const uint8_t*> inputs = {input.data()};
        for (int extra = 0; extra < (f / 3) % 3; ++extra) inputs.push_back(second.data());
        status = instance.processFrameCopy(inputs, output.data());
        break;
      }
      default: {
        const auto w = static_cast<int32_t>(format.width), h = static_cast<int32_t>(format.height);
        FrameSlot in{kFormatTagRgb8, format.bytesPerPixel, input.data(), w, h, nullptr, 0, 0};
        FrameSlot out{kFormatTagRgb8, format.bytesPerPixel, output.data(), w, h, nullptr, 0, 0};
        MultiFrames record{};
        record.numInputs = record.numOutputs = 1;
        record.inputs[0] = &in;
        record.outputs[0] = &out;
        status = instance.processMulti(&record);
        break;
      }
    }
    if (status != FF_SUCCESS) ++outcome.failedFrames;
    outcome.crc = crc32(output.data(), bytes, outcome.crc);
    if (f % 5 == 0) {
      for (uint32_t i = 0; i < params; ++i) {
        const float value = instance.parameter(i);
        if (!(value >= 0.0f && value <= 1.0f)) ++outcome.badReads;
        if (!instance.display(i)) ++outcome.badReads;
      }
      const PluginInfoStruct* info = library.info();
      const PluginExtendedInfoStruct* ext = library.extendedInfo();
      if (!info || info->APIMajorVersion != 1 || std::string(info->PluginName) != library.name() ||
          !ext || ext->PluginMajorVersion != 3) {
        ++outcome.badReads;
      }
    }
  }
  return outcome;
}

// Instances coming and going next to the busy ones: each gets two frames.
Outcome churnInstances(const PluginLibrary& library) {
  Outcome outcome;
  outcome.instantiated = true;
  for (int round = 0; round < 8; ++round) {
    const Format& format = round % 2 ? kFormatA : kFormatB;
    Instance instance(library, format.width / 2, format.height / 2, format.bytesPerPixel,
                      format.orientation);
    if (!instance.valid()) {
      outcome.instantiated = false;
      continue;
    }
    std::vector<uint8_t> frame(instance.frameBytes());
    for (int f = 0; f < 2; ++f) {
      renderTestFrame(frame.data(), static_cast<int>(format.width / 2),
                      static_cast<int>(format.height / 2), format.bytesPerPixel, round + f);
      if (instance.processFrame(frame.data()) != FF_SUCCESS) ++outcome.failedFrames;
    }
  }
  return outcome;
}

TEST(HostThreads, EveryDeliverableOnSeveralHostThreadsAtOnce) {
  std::vector<std::unique_ptr<PluginLibrary>> libraries;
  for (const char* name : kDeliverableNames)
    libraries.push_back(std::make_unique<PluginLibrary>(name));

  // Per deliverable: two threads on format A (the same script twice), one on format B and
  // one that creates and destroys instances. All start together.
  struct Job {
    const PluginLibrary* library;
    const Format* format;  // null: the churning thread
    Outcome outcome;
  };
  std::vector<Job> jobs;
  for (const auto& library : libraries) {
    jobs.push_back({library.get(), &kFormatA, {}});
    jobs.push_back({library.get(), &kFormatA, {}});
    jobs.push_back({library.get(), &kFormatB, {}});
    jobs.push_back({library.get(), nullptr, {}});
  }
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (Job& job : jobs) {
    threads.emplace_back([&job, &go] {
      while (!go.load(std::memory_order_acquire)) std::this_thread::yield();
      job.outcome =
          job.format ? runScript(*job.library, *job.format) : churnInstances(*job.library);
    });
  }
  go.store(true, std::memory_order_release);
  for (std::thread& thread : threads) thread.join();

  for (const Job& job : jobs) {
    SCOPED_TRACE(job.library->name());
    SCOPED_TRACE(job.format ? job.format->width : 0);  // 0: the churning thread
    EXPECT_TRUE(job.outcome.instantiated);
    EXPECT_EQ(job.outcome.failedFrames, 0);
    EXPECT_EQ(job.outcome.badReads, 0);
  }
  // The same script alone on this thread gives the same bytes.
  for (size_t j = 0; j < jobs.size(); j += 4) {
    const PluginLibrary& library = *jobs[j].library;
    if (!isSelfContained(library.name())) continue;
    SCOPED_TRACE(library.name());
    const Outcome aloneA = runScript(library, kFormatA);
    const Outcome aloneB = runScript(library, kFormatB);
    EXPECT_EQ(jobs[j].outcome.crc, aloneA.crc);
    EXPECT_EQ(jobs[j + 1].outcome.crc, aloneA.crc);
    EXPECT_EQ(jobs[j + 2].outcome.crc, aloneB.crc);
  }
}

}  // namespace
}  // namespace qeltest
