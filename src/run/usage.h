// The usage summary that -help and --help print: every option of both
// engines, the formats in short, and examples.
#pragma once

namespace tessellar {

// The summary's text, ending with a line break.
const char* usage_text();

}  // namespace tessellar
