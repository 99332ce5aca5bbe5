#pragma once
// The program speaks Japanese whatever the user's locale: the toolkit's own
// dialogs (files, colours, questions) too.
namespace velmora {

// Loads the toolkit's Japanese translation into the running application and
// makes Japanese the default locale. False when the translation is missing
// (the dialogs then stay in English).
bool UseJapanese();

}  // namespace velmora
