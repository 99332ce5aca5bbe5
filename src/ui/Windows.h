#pragma once
// The seven windows of the program, created once each at start-up in this
// order and reached through their global references.
namespace velmora {

void CreateWindows();
void DestroyWindows();

}  // namespace velmora
