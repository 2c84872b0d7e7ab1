#include "data/Dialect.h"

#include "data/DataErrors.h"

EDatabaseError ViewRefused(const QString& name)
{
    return EDatabaseError(
        QStringLiteral("%1 is a view: pictures can be converted only in a table. Convert the table the view shows.").arg(name));
}
