#pragma once

namespace vornel {

// What the program does before its window exists: names the application (the caption of its
// message boxes) and builds the process-wide CRC table.
void InitialiseApplication();

} // namespace vornel
