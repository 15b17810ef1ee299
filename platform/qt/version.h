#pragma once

#include <cstdint>

// Low byte major, next byte minor Windows version. We stand in for Windows 95 (4.0).
uint32_t GetVersion();
