#pragma once

// The window's palette (sRGB, opaque). Sizes elsewhere in app/ are device-independent pixels,
// so the layout keeps its proportions at any display scale.

#include <QColor>

namespace Theme {

inline const QColor accent{15, 124, 134};      ///< tint, prominent buttons, switch track when on
inline const QColor window{242, 242, 244};     ///< window background
inline const QColor card{251, 251, 253};       ///< cards, even log bands
inline const QColor cardBorder{224, 224, 230}; ///< outlines; switch track when off and disabled
inline const QColor rowLine{236, 236, 240};    ///< separators inside cards
inline const QColor actionBar{244, 244, 248};  ///< the folder and start bar
inline const QColor muted{139, 139, 149};      ///< section titles, explanations, the idle dot
inline const QColor label{61, 61, 68};         ///< option titles and field labels
inline const QColor live{52, 199, 89};         ///< the log's activity dot while a run goes

/// Colours that are not part of the palette but fixed by the layout.
inline const QColor switchOff{195, 195, 203};
inline const QColor folderText{92, 92, 102};
inline const QColor badge{233, 233, 238};
inline const QColor logBar{244, 244, 248};

/// The platform text colour at 4 %: the odd log bands.
inline QColor oddBand(const QColor& text) {
    QColor c = text;
    c.setAlphaF(0.04);
    return c;
}

} // namespace Theme
