#include "ZiTool.h"

#include "ZIImage.h"
#include "ZIImageUtil.h"
#include "ToolArguments.h"
#include "ZelvoFile.h"

#include <QByteArray>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QSize>
#include <QStringList>

#include <cstdio>

namespace {

QString sizeText(const QSize& size)
{
    return QStringLiteral("%1 x %2").arg(size.width()).arg(size.height());
}

// A picture that must be read whole may take this much, as 32-bit pixels.
constexpr qint64 maxWholePictureBytes = 256 * 1024 * 1024;

// Qt scales a JPEG while decoding it and a PNG row by row as it is read,
// unless the PNG is interlaced; every other picture it reads whole first.
bool scalesWhileReading(const QByteArray& format, const QString& path)
{
    if (format == "jpeg")
        return true;
    if (format != "png")
        return false;
    // The interlace method is the last byte of the header chunk, which a
    // PNG must have first: after the signature, its length and type, the
    // width, height, bit depth, colour type, compression and filter.
    constexpr int interlaceOffset = 8 + 4 + 4 + 4 + 4 + 1 + 1 + 1 + 1;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray header = file.read(interlaceOffset + 1);
    return header.size() == interlaceOffset + 1 && header.at(interlaceOffset) == 0;
}

} // namespace

ZiTool::ZiTool()
    : out(stdout)
    , err(stderr)
{
}

ExitCode ZiTool::run(const QStringList& arguments)
{
    // The codec's and Qt's log lines would bury the one line an error gets;
    // --verbose brings them back.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=false\n*.warning=false"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Converts pictures to and from ZI, the one-bit image format of the Zelvo glasses.\n\n"
        "Commands:\n"
        "  encode <picture> <out.zi>  Encodes any picture Qt reads.\n"
        "  decode <in.zi> <out.png>   Writes the decoded picture, green on white.\n"
        "  info <in.zi>               Prints width, height, byte count and hash.\n\n"
        "Run \"zitool <command> --help\" for the options of a command."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("encode, decode or info."),
                                 QStringLiteral("<command> [<args>...]"));
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    if (!parser.parse(arguments))
        return usageError(parser.errorText(), QString());
    if (parser.isSet(QStringLiteral("help"))) {
        printHelp(parser);
        return ExitCode::Success;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        out << ToolArguments::versionText(QStringLiteral("zitool"));
        return ExitCode::Success;
    }
    const QString command = parser.positionalArguments().value(0);
    if (command == QLatin1String("encode"))
        return encode(arguments);
    if (command == QLatin1String("decode"))
        return decode(arguments);
    if (command == QLatin1String("info"))
        return info(arguments);
    if (command.isEmpty())
        return usageError(QStringLiteral("no command given"), QString());
    return usageError(QStringLiteral("unknown command \"%1\"").arg(command), QString());
}

ExitCode ZiTool::encode(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Encodes a picture as a ZI image. Without options a pixel is lit when its green is full and neither its "
        "red nor its blue is (pure green is lit; white, yellow and cyan are not).\n\n"
        "--mono and --dither turn ordinary drawings and photos into lit and background pixels: dark parts "
        "become lit, light parts and transparent areas background, because the glasses show lit pixels as "
        "light on a see-through lens and so dark ink on paper becomes the drawing. --fit helps with photos, "
        "which rarely fit the 8640 bytes, header included, a ZI image may hold."));
    parser.addPositionalArgument(QStringLiteral("encode"), QStringLiteral("The command."));
    parser.addPositionalArgument(QStringLiteral("picture"), QStringLiteral("Any picture Qt reads."));
    parser.addPositionalArgument(QStringLiteral("out.zi"), QStringLiteral("The ZI file to write."));
    const QCommandLineOption mono(QStringLiteral("mono"),
                                  QStringLiteral("Lights the pixels darker than the threshold."));
    const QCommandLineOption threshold(
        QStringLiteral("threshold"),
        QStringLiteral("Luminance, in percent of white, below which --mono lights a pixel (default 50; "
                       "implies --mono)."),
        QStringLiteral("percent"), QStringLiteral("50"));
    const QCommandLineOption dither(QStringLiteral("dither"),
                                    QStringLiteral("Lights pixels by Floyd-Steinberg error diffusion, so that "
                                                   "grey tones become a density of lit pixels."));
    const QCommandLineOption fit(QStringLiteral("fit"),
                                 QStringLiteral("Scales larger pictures down to fit within width x height, "
                                                "keeping their proportions (for example 320x200)."),
                                 QStringLiteral("WxH"));
    parser.addOptions({ mono, threshold, dither, fit });
    if (const auto exitCode = parse(parser, arguments, 2))
        return *exitCode;

    const bool reduce = parser.isSet(mono) || parser.isSet(threshold);
    if (reduce && parser.isSet(dither))
        return usageError(QStringLiteral("--dither excludes --mono and --threshold"), QStringLiteral("encode"));
    bool valid = false;
    const int percent = parser.value(threshold).toInt(&valid);
    if (!valid || percent < 0 || percent > 100)
        return usageError(QStringLiteral("--threshold takes a percentage from 0 to 100, not \"%1\"")
                              .arg(parser.value(threshold)),
                          QStringLiteral("encode"));
    QSize box;
    if (parser.isSet(fit)) {
        const QRegularExpressionMatch match =
            QRegularExpression(QStringLiteral("^(\\d{1,4})x(\\d{1,4})$")).match(parser.value(fit));
        box = match.hasMatch() ? QSize(match.captured(1).toInt(), match.captured(2).toInt()) : QSize();
        if (box.isEmpty() || box.width() > ZIImageUtil::maxDimension || box.height() > ZIImageUtil::maxDimension)
            return usageError(QStringLiteral("--fit takes a size like 320x200 up to 4095x4095, not \"%1\"")
                                  .arg(parser.value(fit)),
                              QStringLiteral("encode"));
    }

    const QStringList files = parser.positionalArguments().mid(1);
    const QFileInfo input(files.at(0));
    if (input.exists() && !input.isFile())
        return fail(QStringLiteral("%1 is not a regular file").arg(files.at(0)));
    QImageReader reader(files.at(0));
    reader.setAutoTransform(true);
    const auto tooLarge = [](const QSize& size) {
        return size.width() > ZIImageUtil::maxDimension || size.height() > ZIImageUtil::maxDimension;
    };
    const auto refuseSize = [this, &files](const QSize& size) {
        return fail(QStringLiteral("%1 is %2 pixels, larger than the 4095 x 4095 of a ZI image (try --fit)")
                        .arg(files.at(0), sizeText(size)));
    };
    // The header tells the size: a picture too large is refused, or scaled
    // while it is read, before its full size ever sits in memory.
    const QSize announced = reader.size();
    if (box.isValid() && (announced.width() > box.width() || announced.height() > box.height())) {
        const qint64 wholeBytes = 4 * qint64(announced.width()) * announced.height();
        if (!scalesWhileReading(reader.format(), files.at(0)) && wholeBytes > maxWholePictureBytes)
            return fail(QStringLiteral("%1 is %2 pixels, which Qt reads whole before scaling: %3 MiB, more than "
                                       "the %4 MiB zitool reads at once (scale it down first, or save it as a PNG "
                                       "without interlacing)")
                            .arg(files.at(0), sizeText(announced))
                            .arg(wholeBytes >> 20)
                            .arg(maxWholePictureBytes >> 20));
        reader.setScaledSize(announced.scaled(box, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    } else if (tooLarge(announced)) {
        return refuseSize(announced);
    }
    QImage picture = reader.read();
    if (picture.isNull())
        return fail(QStringLiteral("cannot read picture %1: %2").arg(files.at(0), reader.errorString()));
    if (box.isValid() && (picture.width() > box.width() || picture.height() > box.height())) {
        const QSize fitted = picture.size().scaled(box, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
        picture = picture.scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    if (tooLarge(picture.size()))
        return refuseSize(picture.size());
    const qint64 byteCount = ZIImageUtil::ziByteCount(picture.width(), picture.height());
    if (byteCount > ZIImage::maxSize)
        return fail(QStringLiteral("%1 is %2 pixels; its ZI form needs %3 bytes, more than the %4 a ZI image "
                                   "may hold (try --fit)")
                        .arg(files.at(0), sizeText(picture.size()))
                        .arg(byteCount)
                        .arg(ZIImage::maxSize));

    if (reduce)
        picture = ZIImageUtil::toMono(picture, percent);
    else if (parser.isSet(dither))
        picture = ZIImageUtil::toDithered(picture);
    const ZIImage image = ZIImageUtil::ziCompress(picture);
    QString reason;
    if (!image.save(files.at(1), &reason))
        return fail(QStringLiteral("cannot write %1: %2").arg(files.at(1), reason));
    if (image.size() < ZIImageUtil::minDecodeSize)
        err << QStringLiteral("zitool: warning: %1 holds %2 bytes; ZI readers refuse images shorter than %3 bytes\n")
                   .arg(files.at(1))
                   .arg(image.size())
                   .arg(ZIImageUtil::minDecodeSize);
    return ExitCode::Success;
}

ExitCode ZiTool::decode(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Decodes a ZI image into a picture: lit pixels pure green, the background white. The "
                       "picture's format follows the suffix of its name."));
    parser.addPositionalArgument(QStringLiteral("decode"), QStringLiteral("The command."));
    parser.addPositionalArgument(QStringLiteral("in.zi"), QStringLiteral("The ZI file to read."));
    parser.addPositionalArgument(QStringLiteral("out.png"), QStringLiteral("The picture to write."));
    if (const auto exitCode = parse(parser, arguments, 2))
        return *exitCode;

    const QStringList files = parser.positionalArguments().mid(1);
    QByteArray bytes;
    if (!readZi(files.at(0), bytes))
        return ExitCode::Failure;
    if (bytes.size() < ZIImageUtil::minDecodeSize)
        return fail(QStringLiteral("%1 is too short to decode: %2 bytes, ZI readers need at least %3")
                        .arg(files.at(0))
                        .arg(bytes.size())
                        .arg(ZIImageUtil::minDecodeSize));
    const QImage image = ZIImageUtil::ziUncompress(bytes);
    if (image.isNull())
        return fail(QStringLiteral("%1 holds an image without pixels").arg(files.at(0)));

    const QString suffix = QFileInfo(files.at(1)).suffix().toLower();
    const QByteArray format = suffix.toLatin1();
    if (!QImageWriter::supportedImageFormats().contains(format))
        return fail(QStringLiteral("cannot write %1: no picture format for the suffix \"%2\"").arg(files.at(1), suffix));
    const auto write = [&image, &format](QIODevice* file, QString* reason) {
        QImageWriter writer(file, format);
        if (writer.write(image))
            return true;
        *reason = writer.errorString();
        return false;
    };
    QString reason;
    if (!ZelvoFile::writeWhole(files.at(1), write, &reason))
        return fail(QStringLiteral("cannot write %1: %2").arg(files.at(1), reason));
    return ExitCode::Success;
}

ExitCode ZiTool::info(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Prints the width, height and byte count of a ZI file and the 28-bit hash of its bytes in "
                       "hexadecimal, one \"name value\" line each."));
    parser.addPositionalArgument(QStringLiteral("info"), QStringLiteral("The command."));
    parser.addPositionalArgument(QStringLiteral("in.zi"), QStringLiteral("The ZI file to read."));
    if (const auto exitCode = parse(parser, arguments, 1))
        return *exitCode;

    const QString path = parser.positionalArguments().at(1);
    QByteArray bytes;
    if (!readZi(path, bytes))
        return ExitCode::Failure;
    const QSize size = ZIImageUtil::ziDimensions(bytes);
    const quint32 hash = ZIImage::hash(reinterpret_cast<const quint8*>(bytes.constData()), bytes.size());
    out << "width " << size.width() << "\n"
        << "height " << size.height() << "\n"
        << "bytes " << bytes.size() << "\n"
        << "hash 0x" << QString::number(hash, 16) << "\n";
    const qint64 expected = ZIImageUtil::ziByteCount(size.width(), size.height());
    if (bytes.size() != expected)
        err << QStringLiteral("zitool: warning: %1 holds %2 bytes; a %3 ZI image has %4\n")
                   .arg(path)
                   .arg(bytes.size())
                   .arg(sizeText(size))
                   .arg(expected);
    return ExitCode::Success;
}

std::optional<ExitCode> ZiTool::parse(QCommandLineParser& parser, const QStringList& arguments, int files)
{
    const QCommandLineOption verbose(QStringLiteral("verbose"), QStringLiteral("Shows the codec's log lines."));
    parser.addOption(verbose);
    parser.addHelpOption();
    const QString command = arguments.value(1);
    if (!parser.parse(arguments))
        return usageError(parser.errorText(), command);
    if (parser.isSet(QStringLiteral("help"))) {
        printHelp(parser);
        return ExitCode::Success;
    }
    if (parser.isSet(verbose))
        QLoggingCategory::setFilterRules(QString());
    const int given = parser.positionalArguments().size() - 1;
    if (given != files)
        return usageError(QStringLiteral("%1 takes %2 file name(s), not %3").arg(command).arg(files).arg(given),
                          command);
    return std::nullopt;
}

bool ZiTool::readZi(const QString& path, QByteArray& bytes)
{
    // As large as a ZI file can be, 4095 x 4095: the emulator stores and
    // draws those too.
    QString error;
    if (!ZelvoFile::readRegular(path, ZIImageUtil::ziByteCount(ZIImageUtil::maxDimension, ZIImageUtil::maxDimension),
                                &bytes, &error)) {
        fail(error);
        return false;
    }
    if (!ZIImageUtil::ziDimensions(bytes).isValid()) {
        fail(QStringLiteral("%1 is not a ZI file").arg(path));
        return false;
    }
    return true;
}

void ZiTool::printHelp(const QCommandLineParser& parser)
{
    // The usage line names the program as it was started, often a long path.
    QString text = parser.helpText();
    const QString program = QCoreApplication::arguments().value(0);
    const int at = program.isEmpty() ? -1 : text.indexOf(program);
    if (at >= 0)
        text.replace(at, program.size(), QCoreApplication::applicationName());
    out << text;
}

ExitCode ZiTool::fail(const QString& message)
{
    err << "zitool: " << message << "\n";
    return ExitCode::Failure;
}

ExitCode ZiTool::usageError(const QString& message, const QString& command)
{
    const QString help = command.isEmpty() ? QStringLiteral("zitool --help") : QStringLiteral("zitool %1 --help").arg(command);
    err << "zitool: " << message << " (see \"" << help << "\")\n";
    return ExitCode::UsageError;
}
