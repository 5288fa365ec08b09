// panelctl apply: a project's saved configuration of one device, written to the chip.
#include "ctlapply.h"

#include "ctlchip.h"
#include "ctlcommands.h"

#include "devices/project.h"
#include "utils/utils.h"

#include <algorithm>

using Error = CtlSession::Error;
using ChipState = CtlSession::ChipState;

namespace {

// A project value as the file writes it: QSettings gives text for what it
// wrote as text and a typed value for what it wrote typed.
bool fileCode(const QVariant &value, int &code)
{
    bool ok = false;
    code = value.toString().trimmed().toInt(&ok, 10);
    return ok && code >= 0 && code <= 0x7F;
}

bool fileFlag(const QVariant &value, bool &flag)
{
    if (value.typeId() == QMetaType::Bool) {
        flag = value.toBool();
        return true;
    }
    const QString text = value.toString().trimmed().toLower();
    flag = text == QLatin1String("true") || text == QLatin1String("1");
    return flag || text == QLatin1String("false") || text == QLatin1String("0");
}

// The file's devices the manager took: those it kept under their own DAT
// and those it merged into a device of the same type at the same address.
QStringList usableDevices(const QStringList &fileDats, const QStringList &projectDats)
{
    QStringList usable;
    for (const QString &dat : fileDats) {
        const bool taken = std::any_of(projectDats.cbegin(), projectDats.cend(), [&dat](const QString &kept) {
            return kept == dat
                   || (Utils::datAddress(kept) == Utils::datAddress(dat) && Utils::datType(kept) == Utils::datType(dat));
        });
        if (taken)
            usable << dat;
    }
    return usable;
}

} // namespace

Error runApply(CtlContext &c)
{
    const QString filename = c.args.value(0);
    QByteArray probe;
    // The same checks as for a script: a clear word for a missing file
    // before the project reader has its say.
    if (Error err = readInputFile(filename, c.stdinClosed, probe))
        return err;
    QStringList skipped;
    if (Error err = c.session.openProject(filename, skipped))
        return err;
    for (const QString &message : std::as_const(skipped)) {
        c.out.line(QStringLiteral("warning: %1").arg(CtlOutput::printable(message, 400)));
        c.out.append(QStringLiteral("warnings"), message);
    }

    // The file's own values: the model drops what it cannot convert and
    // fills in its defaults, and neither may reach the chip unnoticed.
    QMap<QString, QVariantMap> sections;
    if (const QString err = Project::readSections(filename, {}, sections); !err.isEmpty())
        return { CtlSession::ExitFile, QStringLiteral("Cannot read project %1: %2").arg(filename, err) };
    // The choice is among the file's devices, not the manager's: the manager
    // files devices at one address behind different adapters as one.
    const QStringList dats = usableDevices(sections.keys(), c.session.projectDats());
    QString section;
    if (c.parser.isSet(QStringLiteral("section"))) {
        section = c.parser.value(QStringLiteral("section"));
        if (!dats.contains(section))
            return usage(QStringLiteral("Project %1 has no device %2 (devices: %3)")
                             .arg(filename, section, dats.isEmpty() ? QStringLiteral("none") : dats.join(QStringLiteral(", "))));
    } else if (dats.size() == 1) {
        section = dats.constFirst();
    } else if (dats.isEmpty()) {
        if (!skipped.isEmpty())
            return usage(QStringLiteral("Project %1 holds no usable device: skipped %2")
                             .arg(filename, skipped.constFirst().section(QStringLiteral(": "), 1)));
        // Sections that do not even name a device are left out without a word.
        QStringList groups;
        (void)Project::readSectionNames(filename, groups);
        if (!groups.isEmpty())
            return usage(QStringLiteral("Project %1 holds no device: its sections (%2) name none")
                             .arg(filename, groups.join(QStringLiteral(", "))));
        return { CtlSession::ExitFile, QStringLiteral("Project %1 holds no device").arg(filename) };
    } else {
        return usage(QStringLiteral("Project %1 holds %2 devices; choose one with --section (%3)")
                         .arg(filename)
                         .arg(dats.size())
                         .arg(dats.join(QStringLiteral(", "))));
    }

    const QVariantMap saved = sections.value(section);
    const QString where = QStringLiteral("Project %1, %2: ").arg(filename, section);
    int code = -1;
    if (saved.contains(QStringLiteral("voutControl")) && !fileCode(saved.value(QStringLiteral("voutControl")), code))
        return usage(where + QStringLiteral("voutControl \"%1\" is not a code from 0 to 127")
                                 .arg(saved.value(QStringLiteral("voutControl")).toString()));
    QMap<QString, bool> flags;
    for (const QString &key : { QStringLiteral("autoPwm"), QStringLiteral("forcedPwm"), QStringLiteral("passThrough") }) {
        bool flag = false;
        if (!saved.contains(key))
            continue;
        if (!fileFlag(saved.value(key), flag))
            return usage(where + QStringLiteral("%1 \"%2\" is not true or false").arg(key, saved.value(key).toString()));
        flags.insert(key, flag);
    }

    c.dat = section;
    // Only the chosen device stays in the project, so that it can be
    // attached even where the manager filed another one at its address.
    c.session.keepOnlyProjectDevice(section);
    // What the file does not say stays as the chip has it.
    ChipState before;
    if (Error err = readChip(c, &before))
        return err;
    ChipState target = before;
    if (code >= 0)
        target.code = code;
    if (!flags.isEmpty()) {
        target.autoPwm = flags.value(QStringLiteral("autoPwm"), before.autoPwm);
        target.forcedPwm = flags.value(QStringLiteral("forcedPwm"), before.forcedPwm);
        target.passThrough = flags.value(QStringLiteral("passThrough"), before.passThrough);
    }
    c.out.line(QStringLiteral("applying %1 [%2]").arg(filename, section));
    c.out.set(QStringLiteral("project"), filename);
    return writeAndVerify(c, before, target, where);
}
