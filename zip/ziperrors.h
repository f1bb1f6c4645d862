// The errors the archive writer raises, with their messages.
#pragma once

#include <stdexcept>
#include <string>

// Base of the writer's own errors.
class EZipError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The job was cancelled: "User Aborted Operation" (cancel flag) or "User canceled Zip operation"
// (OnStartZipInfo's StopNow).
class EUserCanceled : public EZipError {
public:
    using EZipError::EZipError;
};

// The archive took fewer bytes than it was given.
class ENotEnoughRoom : public EZipError {
public:
    ENotEnoughRoom() : EZipError("Not enough room to write archive") {}
};

// A size, offset or count the ZIP format cannot hold without its 64-bit extensions.
class EZipLimit : public EZipError {
public:
    using EZipError::EZipError;
};

// A file could not be read to its end.
class EZipReadError : public EZipError {
public:
    using EZipError::EZipError;
};

// The existing archive is not one the writer can read: "Incomplete Zip File". Detail says what
// was found wrong, for front ends that can show more than the message.
class EIncompleteZip : public EZipError {
public:
    explicit EIncompleteZip(std::string detail) : EZipError("Incomplete Zip File"), detail_(std::move(detail)) {}
    const std::string& Detail() const { return detail_; }

private:
    std::string detail_;
};

// Another process is writing the archive and the writer was told not to wait for it.
class EZipBusy : public EZipError {
public:
    using EZipError::EZipError;
};

// A sorted list refused an object whose key it already holds.
class EListError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline constexpr const char* kUserAbortedOperation = "User Aborted Operation";
inline constexpr const char* kUserCanceledZip = "User canceled Zip operation";
