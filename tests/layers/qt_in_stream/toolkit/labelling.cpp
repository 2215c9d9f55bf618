#include "toolkit/labelling.h"
#include "quantile.h"
// A Qt header in the toolkit.
#include <QVector>
