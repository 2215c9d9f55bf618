#include "toolkit/./labelling.h"
#include "labelling.h"
// Breaks the layers: "toolkit/../app/form_text.h" is app/form_text.h.
#include "toolkit/../app/form_text.h"
