#pragma once

// Resource identifiers shared by tovrik.rc and the code that loads the resources.
#define TOVRIK_ICON 1
