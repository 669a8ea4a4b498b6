import QtQuick 2.4
import QtGraphicalEffects 1.0

// A drawing of the views in the theme's icon colour (ThemedIcon, dark themes).
ColorOverlay {
    color: Theme.icon
}
