#pragma once

// The start-up registration of the entry and feed classes by kind. It runs
// once (later calls do nothing) and is also made by every feed parse, so a
// feed never parses with an empty registry into base classes.
namespace DAClasses {
void registerAll();
}
