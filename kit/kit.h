// The kit: writers for every file format the runtime reads, sharing the runtime's definitions.
#pragma once
