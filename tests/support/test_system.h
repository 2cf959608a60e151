#pragma once

// The system the tests are built for, where a case's expected result is the
// system's own (a file name Windows forbids).
inline constexpr bool kBuiltForWindows = SKV_BUILT_FOR_WINDOWS;
