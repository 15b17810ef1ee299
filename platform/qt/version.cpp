#include "platform/qt/version.h"

#include "platform/qt/seams.h"

#include <atomic>

namespace {

// Windows 95's own value: build 950 in the high word with the "not NT" bit set, 4.0 below.
constexpr uint32_t windows95 = 0xC3B60004;

std::atomic<uint32_t> reportedVersion{windows95};

}  // namespace

uint32_t GetVersion()
{
    return reportedVersion.load();
}

void SetReportedVersion(uint32_t version)
{
    reportedVersion.store(version);
}
