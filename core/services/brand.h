#pragma once

#include "panelcore_global.h"

#include <QColor>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <array>

// The look of the program: the asset folders and their contents, the two
// styles with their colour sets, the chart theme, the current logo and the
// fixed palettes. The style, logo, chart theme and the two accent colours
// are remembered in the settings store under "themes/...".
class PANELCORE_EXPORT Brand : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString dirRes READ dirRes CONSTANT)
    Q_PROPERTY(QString dirRoot READ dirRoot CONSTANT)
    Q_PROPERTY(QString dirImages READ dirImages CONSTANT)
    Q_PROPERTY(QString dirIcons READ dirIcons CONSTANT)
    Q_PROPERTY(QString dirLogos READ dirLogos CONSTANT)
    Q_PROPERTY(QString dirFonts READ dirFonts CONSTANT)
    Q_PROPERTY(QString dirClipart READ dirClipart CONSTANT)
    Q_PROPERTY(QString dirMaterial READ dirMaterial CONSTANT)
    Q_PROPERTY(QStringList images READ images CONSTANT)
    Q_PROPERTY(QStringList icons READ icons CONSTANT)
    Q_PROPERTY(QStringList logos READ logos CONSTANT)
    Q_PROPERTY(QStringList fonts READ fonts CONSTANT)
    Q_PROPERTY(QStringList styles READ styles CONSTANT)
    Q_PROPERTY(QStringList chartThemes READ chartThemes CONSTANT)
    Q_PROPERTY(QString urlProductPage READ urlProductPage CONSTANT)
    Q_PROPERTY(QString urlStyleGuide READ urlStyleGuide CONSTANT)
    Q_PROPERTY(QColor warningColor READ warningColor CONSTANT)
    Q_PROPERTY(QColor errorColor READ errorColor CONSTANT)

    Q_PROPERTY(QString logo READ logo WRITE setLogo NOTIFY logoChanged)
    Q_PROPERTY(QColor mainPaneViewChildColor READ mainPaneViewChildColor WRITE setMainPaneViewChildColor NOTIFY mainPaneViewChildColorChanged)
    Q_PROPERTY(QColor titleAccentColor READ titleAccentColor WRITE setTitleAccentColor NOTIFY titleAccentColorChanged)
    Q_PROPERTY(QString chartTheme READ chartTheme WRITE setChartTheme NOTIFY chartThemeChanged)
    Q_PROPERTY(QString style READ style WRITE setStyle NOTIFY styleChanged)

    Q_PROPERTY(QColor altBase READ altBase WRITE setAltBase NOTIFY altBaseChanged)
    Q_PROPERTY(QColor base READ base WRITE setBase NOTIFY baseChanged)
    Q_PROPERTY(QColor border READ border WRITE setBorder NOTIFY borderChanged)
    Q_PROPERTY(QColor button READ button WRITE setButton NOTIFY buttonChanged)
    Q_PROPERTY(QColor buttonText READ buttonText WRITE setButtonText NOTIFY buttonTextChanged)
    Q_PROPERTY(QColor darker READ darker WRITE setDarker NOTIFY darkerChanged)
    Q_PROPERTY(QColor darkerHighlight READ darkerHighlight WRITE setDarkerHighlight NOTIFY darkerHighlightChanged)
    Q_PROPERTY(QColor grpTitleAccent READ grpTitleAccent WRITE setGrpTitleAccent NOTIFY grpTitleAccentChanged)
    Q_PROPERTY(QColor grpBackground READ grpBackground WRITE setGrpBackground NOTIFY grpBackgroundChanged)
    Q_PROPERTY(QColor highlight READ highlight WRITE setHighlight NOTIFY highlightChanged)
    Q_PROPERTY(QColor highlightedText READ highlightedText WRITE setHighlightedText NOTIFY highlightedTextChanged)
    Q_PROPERTY(QColor rbutton READ rbutton WRITE setRbutton NOTIFY rbuttonChanged)
    Q_PROPERTY(QColor rbuttonHovered READ rbuttonHovered WRITE setRbuttonHovered NOTIFY rbuttonHoveredChanged)
    Q_PROPERTY(QColor secondaryBase READ secondaryBase WRITE setSecondaryBase NOTIFY secondaryBaseChanged)
    Q_PROPERTY(QColor secondaryWindow READ secondaryWindow WRITE setSecondaryWindow NOTIFY secondaryWindowChanged)
    Q_PROPERTY(QColor text READ text WRITE setText NOTIFY textChanged)
    Q_PROPERTY(QColor window READ window WRITE setWindow NOTIFY windowChanged)
    Q_PROPERTY(QColor windowText READ windowText WRITE setWindowText NOTIFY windowTextChanged)
    Q_PROPERTY(QColor online READ online WRITE setOnline NOTIFY onlineChanged)
    Q_PROPERTY(QColor offline READ offline WRITE setOffline NOTIFY offlineChanged)
    Q_PROPERTY(QColor ledGreen READ ledGreen WRITE setLedGreen NOTIFY ledGreenChanged)
    Q_PROPERTY(QColor ledRed READ ledRed WRITE setLedRed NOTIFY ledRedChanged)
    Q_PROPERTY(QColor ledBlue READ ledBlue WRITE setLedBlue NOTIFY ledBlueChanged)
    Q_PROPERTY(QColor ledGray READ ledGray WRITE setLedGray NOTIFY ledGrayChanged)
    Q_PROPERTY(QColor ledYellow READ ledYellow WRITE setLedYellow NOTIFY ledYellowChanged)
    Q_PROPERTY(QColor menuHighlight READ menuHighlight WRITE setMenuHighlight NOTIFY menuHighlightChanged)
    Q_PROPERTY(QColor notificationBg READ notificationBg WRITE setNotificationBg NOTIFY notificationBgChanged)

    Q_PROPERTY(QList<QColor> orvanePrimary READ orvanePrimary WRITE setOrvanePrimary NOTIFY orvanePrimaryChanged)
    Q_PROPERTY(QList<QColor> orvaneSecondary READ orvaneSecondary WRITE setOrvaneSecondary NOTIFY orvaneSecondaryChanged)
    Q_PROPERTY(QList<QColor> kvtCustom READ kvtCustom WRITE setKvtCustom NOTIFY kvtCustomChanged)

public:
    static const QString STYLE_LIGHT;
    static const QString STYLE_DARK;

    // The colours that follow the style, in the order a style switch
    // assigns them.
    enum StyleColor {
        AltBase, Base, Border, Button, ButtonText, Darker, DarkerHighlight,
        GrpTitleAccent, GrpBackground, Highlight, HighlightedText, Rbutton,
        RbuttonHovered, SecondaryBase, SecondaryWindow, Text, Window, WindowText,
        Online, Offline, LedGreen, LedRed, LedBlue, LedGray, LedYellow,
        MenuHighlight, NotificationBg,
        StyleColorCount
    };

    static Brand *getInstance();
    ~Brand() override;

    QString dirRes() const { return QStringLiteral("qrc"); }
    QString dirRoot() const { return QStringLiteral(":/view/common_qml/brand/"); }
    QString dirImages() const { return dirRoot() + QStringLiteral("images/"); }
    QString dirIcons() const { return dirRoot() + QStringLiteral("icons/"); }
    QString dirLogos() const { return dirRoot() + QStringLiteral("logos/"); }
    QString dirFonts() const { return dirRoot() + QStringLiteral("fonts/"); }
    QString dirClipart() const { return QStringLiteral(":/view/common_qml/clipart/"); }
    QString dirMaterial() const { return QStringLiteral(":/view/common_qml/material/"); }
    QStringList images() const { return m_images; }
    QStringList icons() const { return m_icons; }
    QStringList logos() const { return m_logos; }
    QStringList fonts() const { return m_fonts; }
    QStringList styles() const { return m_styles; }
    QStringList chartThemes() const { return m_chartThemes; }
    QString urlProductPage() const { return m_urlProductPage; }
    QString urlStyleGuide() const { return m_urlStyleGuide; }
    QColor warningColor() const { return m_warningColor; }
    QColor errorColor() const { return m_errorColor; }

    QString logo() const { return m_logo; }
    QColor mainPaneViewChildColor() const { return m_mainPaneViewChildColor; }
    QColor titleAccentColor() const { return m_titleAccentColor; }
    QString chartTheme() const { return m_chartTheme; }
    QString style() const { return m_style; }

    void setLogo(const QString &logo);
    void setMainPaneViewChildColor(const QColor &mainPaneViewChildColor);
    void setTitleAccentColor(const QColor &titleAccentColor);
    void setChartTheme(const QString &chartTheme);
    void setStyle(const QString &style);

    QColor styleColor(StyleColor role) const { return m_colors[role]; }
    void setStyleColor(StyleColor role, const QColor &color);

    QColor altBase() const { return m_colors[AltBase]; }
    QColor base() const { return m_colors[Base]; }
    QColor border() const { return m_colors[Border]; }
    QColor button() const { return m_colors[Button]; }
    QColor buttonText() const { return m_colors[ButtonText]; }
    QColor darker() const { return m_colors[Darker]; }
    QColor darkerHighlight() const { return m_colors[DarkerHighlight]; }
    QColor grpTitleAccent() const { return m_colors[GrpTitleAccent]; }
    QColor grpBackground() const { return m_colors[GrpBackground]; }
    QColor highlight() const { return m_colors[Highlight]; }
    QColor highlightedText() const { return m_colors[HighlightedText]; }
    QColor rbutton() const { return m_colors[Rbutton]; }
    QColor rbuttonHovered() const { return m_colors[RbuttonHovered]; }
    QColor secondaryBase() const { return m_colors[SecondaryBase]; }
    QColor secondaryWindow() const { return m_colors[SecondaryWindow]; }
    QColor text() const { return m_colors[Text]; }
    QColor window() const { return m_colors[Window]; }
    QColor windowText() const { return m_colors[WindowText]; }
    QColor online() const { return m_colors[Online]; }
    QColor offline() const { return m_colors[Offline]; }
    QColor ledGreen() const { return m_colors[LedGreen]; }
    QColor ledRed() const { return m_colors[LedRed]; }
    QColor ledBlue() const { return m_colors[LedBlue]; }
    QColor ledGray() const { return m_colors[LedGray]; }
    QColor ledYellow() const { return m_colors[LedYellow]; }
    QColor menuHighlight() const { return m_colors[MenuHighlight]; }
    QColor notificationBg() const { return m_colors[NotificationBg]; }

    void setAltBase(const QColor &c) { setStyleColor(AltBase, c); }
    void setBase(const QColor &c) { setStyleColor(Base, c); }
    void setBorder(const QColor &c) { setStyleColor(Border, c); }
    void setButton(const QColor &c) { setStyleColor(Button, c); }
    void setButtonText(const QColor &c) { setStyleColor(ButtonText, c); }
    void setDarker(const QColor &c) { setStyleColor(Darker, c); }
    void setDarkerHighlight(const QColor &c) { setStyleColor(DarkerHighlight, c); }
    void setGrpTitleAccent(const QColor &c) { setStyleColor(GrpTitleAccent, c); }
    void setGrpBackground(const QColor &c) { setStyleColor(GrpBackground, c); }
    void setHighlight(const QColor &c) { setStyleColor(Highlight, c); }
    void setHighlightedText(const QColor &c) { setStyleColor(HighlightedText, c); }
    void setRbutton(const QColor &c) { setStyleColor(Rbutton, c); }
    void setRbuttonHovered(const QColor &c) { setStyleColor(RbuttonHovered, c); }
    void setSecondaryBase(const QColor &c) { setStyleColor(SecondaryBase, c); }
    void setSecondaryWindow(const QColor &c) { setStyleColor(SecondaryWindow, c); }
    void setText(const QColor &c) { setStyleColor(Text, c); }
    void setWindow(const QColor &c) { setStyleColor(Window, c); }
    void setWindowText(const QColor &c) { setStyleColor(WindowText, c); }
    void setOnline(const QColor &c) { setStyleColor(Online, c); }
    void setOffline(const QColor &c) { setStyleColor(Offline, c); }
    void setLedGreen(const QColor &c) { setStyleColor(LedGreen, c); }
    void setLedRed(const QColor &c) { setStyleColor(LedRed, c); }
    void setLedBlue(const QColor &c) { setStyleColor(LedBlue, c); }
    void setLedGray(const QColor &c) { setStyleColor(LedGray, c); }
    void setLedYellow(const QColor &c) { setStyleColor(LedYellow, c); }
    void setMenuHighlight(const QColor &c) { setStyleColor(MenuHighlight, c); }
    void setNotificationBg(const QColor &c) { setStyleColor(NotificationBg, c); }

    QList<QColor> orvanePrimary() const { return m_orvanePrimary; }
    QList<QColor> orvaneSecondary() const { return m_orvaneSecondary; }
    QList<QColor> kvtCustom() const { return m_kvtCustom; }
    void setOrvanePrimary(const QList<QColor> &orvanePrimary);
    void setOrvaneSecondary(const QList<QColor> &orvaneSecondary);
    void setKvtCustom(const QList<QColor> &kvtCustom);

    // Applies "Light" or "Dark" (exact case): the style, its logo and every
    // style colour. Any other name changes nothing.
    Q_INVOKABLE void orvaneSetPaletteStyle(const QString &style);

signals:
    void logoChanged(const QString &logo);
    void mainPaneViewChildColorChanged(const QColor &mainPaneViewChildColor);
    void titleAccentColorChanged(const QColor &titleAccentColor);
    void chartThemeChanged(const QString &chartTheme);
    void styleChanged(const QString &style);

    void altBaseChanged(const QColor &altBase);
    void baseChanged(const QColor &base);
    void borderChanged(const QColor &border);
    void buttonChanged(const QColor &button);
    void buttonTextChanged(const QColor &buttonText);
    void darkerChanged(const QColor &darker);
    void darkerHighlightChanged(const QColor &darkerHighlight);
    void grpTitleAccentChanged(const QColor &grpTitleAccent);
    void grpBackgroundChanged(const QColor &grpBackground);
    void highlightChanged(const QColor &highlight);
    void highlightedTextChanged(const QColor &highlightedText);
    void rbuttonChanged(const QColor &rbutton);
    void rbuttonHoveredChanged(const QColor &rbuttonHovered);
    void secondaryBaseChanged(const QColor &secondaryBase);
    void secondaryWindowChanged(const QColor &secondaryWindow);
    void textChanged(const QColor &text);
    void windowChanged(const QColor &window);
    void windowTextChanged(const QColor &windowText);
    void onlineChanged(const QColor &online);
    void offlineChanged(const QColor &offline);
    void ledGreenChanged(const QColor &ledGreen);
    void ledRedChanged(const QColor &ledRed);
    void ledBlueChanged(const QColor &ledBlue);
    void ledGrayChanged(const QColor &ledGray);
    void ledYellowChanged(const QColor &ledYellow);
    void menuHighlightChanged(const QColor &menuHighlight);
    void notificationBgChanged(const QColor &notificationBg);

    void orvanePrimaryChanged(const QList<QColor> &orvanePrimary);
    void orvaneSecondaryChanged(const QList<QColor> &orvaneSecondary);
    void kvtCustomChanged(const QList<QColor> &kvtCustom);

private:
    Brand();

    static Brand *m_instance;

    QStringList m_images;
    QStringList m_icons;
    QStringList m_logos;
    QStringList m_fonts;
    QStringList m_styles;
    QStringList m_chartThemes;
    QString m_urlProductPage;
    QString m_urlStyleGuide;
    QColor m_warningColor;
    QColor m_errorColor;

    QString m_logo;
    QColor m_mainPaneViewChildColor;
    QColor m_titleAccentColor;
    QString m_chartTheme;
    QString m_style;
    std::array<QColor, StyleColorCount> m_colors;

    QList<QColor> m_orvanePrimary;
    QList<QColor> m_orvaneSecondary;
    QList<QColor> m_kvtCustom;
};
