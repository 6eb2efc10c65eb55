#pragma once

#include <string>

namespace tovrik {

// What a long job on the database (a correction, an undo, a scan) tells its front end while it
// works, and asks it. The job words nothing: the front end decides what people see. Every call
// comes in the order the job makes it; after GoOn has returned false no further call comes.
class RunEvents {
public:
    virtual ~RunEvents() = default;
    // The job is counting what it will work on.
    virtual void Counting() {}
    // `total` operations were selected; the job now works through them.
    virtual void Selected(int /*total*/) {}
    // `done` operations are finished and committed, of `total` (which grows when operations
    // came in meanwhile).
    virtual void Committed(int /*done*/, int /*total*/) {}
    // Between steps, with nothing uncommitted: lets the front end handle its events. False
    // when it is closing or the user asked to stop: the job then ends at once.
    virtual bool GoOn() { return true; }
};

// Why a job failed. The text is the database driver's own, or what the job found (which row,
// which value); the front end puts it into its own words around it.
struct RunError {
    enum class Kind {
        None,
        Database,  // a statement, the connection or the commit failed
        Journal,   // the journal could not be written (its text says what was committed)
        Changed,   // rows changed after they were read or checked
    };
    Kind What = Kind::None;
    std::string Text;

    explicit operator bool() const { return What != Kind::None; }
};

}  // namespace tovrik
