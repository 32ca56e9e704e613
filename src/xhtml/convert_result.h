#pragma once
// How the conversion of one document into a book's content files ended.

namespace qm {

enum class ConvertResult {
    Done,         // every page was dealt with (some may have been skipped with a message)
    Cancelled,    // the job's cancel flag stopped it
    Failed,       // a content file could not be written, or the edits do not fit the document (the user
                  // was told): no book
    UnknownMode,  // the job's parse mode is none the converter knows
};

} // namespace qm
