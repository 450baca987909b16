#include "StdoutCapture.h"

#include <sys/stat.h>
#include <unistd.h>

StdoutCapture::StdoutCapture()
    : file(std::tmpfile())
    , savedStdout(::dup(STDOUT_FILENO))
{
    std::fflush(stdout);
    ::dup2(::fileno(file), STDOUT_FILENO);
}

StdoutCapture::~StdoutCapture()
{
    std::fflush(stdout);
    ::dup2(savedStdout, STDOUT_FILENO);
    ::close(savedStdout);
    std::fclose(file);
}

QByteArray StdoutCapture::text() const
{
    std::fflush(stdout);
    // Read by position: the file offset is shared with standard output.
    struct stat status = {};
    ::fstat(::fileno(file), &status);
    QByteArray text(int(status.st_size), '\0');
    const ssize_t read = ::pread(::fileno(file), text.data(), size_t(text.size()), 0);
    text.truncate(int(qMax<ssize_t>(read, 0)));
    return text;
}
