#pragma once

// What was built: the version every program prints with --version, the
// same as the package's.
namespace ZelvoVersion {

const char* text();

} // namespace ZelvoVersion
