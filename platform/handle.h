#pragma once
// An operating-system object (drive, event) as the logic sees it: opaque, null when absent.
namespace platform {
using Handle = void*;
}
