#include "brand.h"

#include "services/settings.h"

#include <QCollator>
#include <QCoreApplication>
#include <QDir>

Brand *Brand::m_instance = nullptr;

const QString Brand::STYLE_LIGHT = QStringLiteral("Light");
const QString Brand::STYLE_DARK = QStringLiteral("Dark");

namespace {

const QString keyStyle = QStringLiteral("themes/style");
const QString keyLogo = QStringLiteral("themes/logo");
const QString keyChartTheme = QStringLiteral("themes/chartTheme");
const QString keyMainPaneViewChildColor = QStringLiteral("themes/mainPaneViewChildColor");
const QString keyTitleAccentColor = QStringLiteral("themes/titleAccentColor");

const QString logoDark = QStringLiteral("orvane_logo_final_t_reverse.png");
const QString logoLight = QStringLiteral("orvane_logo_t_full_color.png");

struct StyleColorDef
{
    QColor dark;
    QColor light;
    void (Brand::*changed)(const QColor &);
};

// One row per colour, in the order of Brand::StyleColor.
const std::array<StyleColorDef, Brand::StyleColorCount> &styleColorTable()
{
    static const std::array<StyleColorDef, Brand::StyleColorCount> table = {{
        {QColor(0x50, 0x50, 0x50), QColor(0xF3, 0xF3, 0xF3), &Brand::altBaseChanged},
        {QColor(0x3B, 0x3B, 0x3B), QColor(0xF6, 0xF6, 0xF6), &Brand::baseChanged},
        {QColor(0x68, 0x68, 0x68), QColor(0xED, 0xED, 0xED), &Brand::borderChanged},
        {QColor(0x3B, 0x3B, 0x3B), QColor(0xFF, 0xFF, 0xFF), &Brand::buttonChanged},
        {QColor(0xFF, 0xFF, 0xFF), QColor(0x00, 0x00, 0x00), &Brand::buttonTextChanged},
        {QColor(0x21, 0x21, 0x21), QColor(0xE4, 0xE4, 0xE4), &Brand::darkerChanged},
        {QColor(255, 255, 255, 13), QColor(0, 0, 0, 13), &Brand::darkerHighlightChanged},
        {QColor(0xE9, 0x7D, 0x2E), QColor(0xFC, 0xDC, 0xAC), &Brand::grpTitleAccentChanged},
        {QColor(0x50, 0x50, 0x50), QColor(0xFF, 0xFF, 0xFF), &Brand::grpBackgroundChanged},
        {QColor(0xE9, 0x7D, 0x2E), QColor(0xFC, 0xDC, 0xAC), &Brand::highlightChanged},
        {QColor(0x34, 0xA6, 0xCA), QColor(0x34, 0xA6, 0xCA), &Brand::highlightedTextChanged},
        {QColor(0xE9, 0x7D, 0x2E), QColor(0xFC, 0xDC, 0xAC), &Brand::rbuttonChanged},
        {QColor(0xE9, 0x7D, 0x2E).darker(120), QColor(0xFC, 0xDC, 0xAC).darker(120), &Brand::rbuttonHoveredChanged},
        {QColor(0x68, 0x68, 0x68), QColor(0xF3, 0xF3, 0xF3), &Brand::secondaryBaseChanged},
        {QColor(0x30, 0x30, 0x30).darker(120), QColor(0xED, 0xED, 0xED), &Brand::secondaryWindowChanged},
        {QColor(0xFF, 0xFF, 0xFF), QColor(0x00, 0x00, 0x00), &Brand::textChanged},
        {QColor(0x68, 0x68, 0x68), QColor(0xED, 0xED, 0xED), &Brand::windowChanged},
        {QColor(0xFF, 0xFF, 0xFF), QColor(0x00, 0x00, 0x00), &Brand::windowTextChanged},
        {QColor(0x42, 0x57, 0x26), QColor(0xC8, 0xFF, 0xBF), &Brand::onlineChanged},
        {QColor(0x57, 0x28, 0x28), QColor(0xFF, 0x90, 0x90), &Brand::offlineChanged},
        {QColor(0xC8, 0xFF, 0xBF), QColor(0xC8, 0xFF, 0xBF), &Brand::ledGreenChanged},
        {QColor(0xFF, 0x90, 0x90), QColor(0xFF, 0x90, 0x90), &Brand::ledRedChanged},
        {QColor(0x88, 0xA9, 0xFF), QColor(0x88, 0xA9, 0xFF), &Brand::ledBlueChanged},
        {QColor(0xF6, 0xF6, 0xF6), QColor(0xED, 0xED, 0xED), &Brand::ledGrayChanged},
        {QColor(0xFF, 0xF4, 0x90), QColor(0xFF, 0xF4, 0x90), &Brand::ledYellowChanged},
        {QColor(0x3B, 0x3B, 0x3B), QColor(0xF6, 0xF6, 0xF6), &Brand::menuHighlightChanged},
        {QColor(0x21, 0x21, 0x21), QColor(0xFF, 0xFF, 0xFF), &Brand::notificationBgChanged},
    }};
    return table;
}

QStringList sortedEntries(const QString &folder, const QString &pattern)
{
    QStringList names = QDir(folder).entryList({pattern}, QDir::Files);
    QCollator collator;
    std::sort(names.begin(), names.end(), collator);
    return names;
}

QList<QColor> colors(std::initializer_list<QRgb> rgbs)
{
    QList<QColor> list;
    for (const QRgb rgb : rgbs)
        list.append(QColor::fromRgb(rgb));
    return list;
}

template <typename T, typename Arg>
void assign(Brand *brand, T &member, const T &value, void (Brand::*changed)(Arg))
{
    if (member == value)
        return;
    member = value;
    emit (brand->*changed)(member);
}

} // namespace

Brand *Brand::getInstance()
{
    if (!m_instance) {
        m_instance = new Brand;
        qAddPostRoutine([] { delete m_instance; });
    }
    return m_instance;
}

Brand::Brand()
{
    m_images = sortedEntries(dirImages(), QStringLiteral("*.*"));
    m_icons = sortedEntries(dirIcons(), QStringLiteral("*.png"));
    m_logos = sortedEntries(dirLogos(), QStringLiteral("*.png"));
    m_fonts = sortedEntries(dirFonts(), QStringLiteral("*.ttf"));
    m_urlProductPage = QStringLiteral("https://www.orvane.com/products/bvr60600");
    m_urlStyleGuide = QStringLiteral("https://www.orvane.com/brand");
    m_warningColor = QColor(QStringLiteral("orange"));
    m_errorColor = QColor(QStringLiteral("red"));
    m_styles = {STYLE_LIGHT, STYLE_DARK};
    // The order of the chart library's built-in themes, so an index into
    // this list is also the theme's enumeration value.
    m_chartThemes = {QStringLiteral("Light"), QStringLiteral("Cerulean blue"), QStringLiteral("Dark"),
                     QStringLiteral("Sand brown"), QStringLiteral("Natural blue"),
                     QStringLiteral("High contrast"), QStringLiteral("Icy blue"), QStringLiteral("Qt")};

    Settings *store = Settings::getInstance();
    setChartTheme(store->value(keyChartTheme, m_chartTheme).toString());
    setLogo(store->value(keyLogo, m_logos.value(0)).toString());
    setStyle(store->value(keyStyle, STYLE_LIGHT).toString());
    orvaneSetPaletteStyle(m_style);

    // Connected only now, so that reading the store writes nothing back.
    connect(this, &Brand::chartThemeChanged, this,
            [store](const QString &v) { store->setValue(keyChartTheme, v); });
    connect(this, &Brand::mainPaneViewChildColorChanged, this,
            [store](const QColor &v) { store->setValue(keyMainPaneViewChildColor, v.name(QColor::HexArgb)); });
    connect(this, &Brand::titleAccentColorChanged, this,
            [store](const QColor &v) { store->setValue(keyTitleAccentColor, v.name(QColor::HexArgb)); });
    connect(this, &Brand::logoChanged, this, [store](const QString &v) { store->setValue(keyLogo, v); });
    connect(this, &Brand::styleChanged, this, [store](const QString &v) { store->setValue(keyStyle, v); });
    connect(this, &Brand::styleChanged, this, &Brand::orvaneSetPaletteStyle);

    setOrvanePrimary(colors({0x000000, 0xE97D2E, 0x465E66, 0xFFFFFF}));
    setOrvaneSecondary(colors({0x3880F6, 0x009691, 0xD8AC11, 0xA84626, 0x34A6CA, 0x276990}));
    setKvtCustom(colors({0x505050, 0xE0E0E0, 0x303030, 0x202020, 0xF0E68C, 0xFFA500}));
}

Brand::~Brand()
{
    m_instance = nullptr;
}

void Brand::setLogo(const QString &logo) { assign(this, m_logo, logo, &Brand::logoChanged); }
void Brand::setMainPaneViewChildColor(const QColor &c) { assign(this, m_mainPaneViewChildColor, c, &Brand::mainPaneViewChildColorChanged); }
void Brand::setTitleAccentColor(const QColor &c) { assign(this, m_titleAccentColor, c, &Brand::titleAccentColorChanged); }
void Brand::setChartTheme(const QString &chartTheme) { assign(this, m_chartTheme, chartTheme, &Brand::chartThemeChanged); }
void Brand::setStyle(const QString &style) { assign(this, m_style, style, &Brand::styleChanged); }
void Brand::setOrvanePrimary(const QList<QColor> &l) { assign(this, m_orvanePrimary, l, &Brand::orvanePrimaryChanged); }
void Brand::setOrvaneSecondary(const QList<QColor> &l) { assign(this, m_orvaneSecondary, l, &Brand::orvaneSecondaryChanged); }
void Brand::setKvtCustom(const QList<QColor> &l) { assign(this, m_kvtCustom, l, &Brand::kvtCustomChanged); }

void Brand::setStyleColor(StyleColor role, const QColor &color)
{
    if (role < 0 || role >= StyleColorCount)
        return;
    assign(this, m_colors[role], color, styleColorTable()[role].changed);
}

void Brand::orvaneSetPaletteStyle(const QString &style)
{
    const bool dark = style == STYLE_DARK;
    if (!dark && style != STYLE_LIGHT)
        return;
    setStyle(style);
    setLogo(dark ? logoDark : logoLight);
    const auto &table = styleColorTable();
    for (int role = 0; role < StyleColorCount; ++role)
        setStyleColor(StyleColor(role), dark ? table[role].dark : table[role].light);
}
