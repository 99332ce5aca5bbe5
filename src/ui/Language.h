#pragma once
// The program speaks Japanese whatever the user's locale: the toolkit's own
// dialogs (files, colours, questions) too.
namespace velmora {

// Before the application object exists: the locale the toolkit reports as the
// system's (dates, sizes and units in file dialogs) becomes Japanese too, for
// names and times only; numbers keep the user's conventions.
void PrepareJapaneseLocale();

// Loads the toolkit's Japanese translation into the running application and
// makes Japanese the default locale. False when the translation is missing
// (the dialogs then stay in English).
bool UseJapanese();

}  // namespace velmora
