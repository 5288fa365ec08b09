pragma Singleton
import QtQuick

// The text of the footer's status line; smart controls put their help here
// when they get focus.
QtObject {
    property string text: ""
}
