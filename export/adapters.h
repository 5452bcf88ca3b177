#pragma once
// The sources and destinations this program is built with.

namespace exports {

// Registers each once (later calls do nothing); the run functions of
// export/runs.h call it, so a caller of those needs nothing else.
void registerBuiltInAdapters();

}  // namespace exports
