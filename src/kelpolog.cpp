#include "kelpolog.h"

Q_LOGGING_CATEGORY(lcApp, "kelpo.app")
Q_LOGGING_CATEGORY(lcStore, "kelpo.store")
Q_LOGGING_CATEGORY(lcNet, "kelpo.net")
Q_LOGGING_CATEGORY(lcNote, "kelpo.note")
Q_LOGGING_CATEGORY(lcServer, "kelpo.server")
