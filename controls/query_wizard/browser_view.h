// The wizard's dialog in the page (emscripten only): positioned DOM elements inside the OBJECT,
// drawn from the wizard's state by library_query_wizard.js.
#pragma once

namespace tamsolo {

// Makes every wizard of this module open on the page's view.
void UseBrowserWizardView();

}  // namespace tamsolo
