// The exported functions and the process-wide document registry.
//
// Every forwarding export tests the handle, then calls exactly one document operation and
// returns its result unchanged; only an invalid handle is answered here.
#include "marllib.h"

#include <cstring>
#include <memory>
#include <utility>

#include "ds.h"
#include "marlclass_document.h"
#include "marllib_file.hpp"
#include "marllib_load.h"

namespace {

int32_t documentCount = 0;
int32_t documentCapacity = 0;
MarlClass::Document** documentList = nullptr;

MarlClass::Document* Lookup(int32_t handle) {
    if (handle < 0 || handle >= documentCount) return nullptr;
    return documentList[handle];
}

// Hands a finished document to the registry and returns its handle. If growing the registry
// fails, the document is destroyed and the registry is unchanged.
int32_t Register(std::unique_ptr<MarlClass::Document> document) {
    DS::Collection<MarlClass::Document*, int32_t> registry(&documentCount, &documentCapacity,
                                                            &documentList);
    registry.reserve();
    registry.appendReserved(document.release());
    return documentCount - 1;
}

// Hosts pass the leaf flag as one byte in which any nonzero value means a leaf (a C host may
// declare it as a char). The byte is read as it is rather than trusted to hold 0 or 1.
bool AnyNonzeroByte(const bool& flag) {
    unsigned char byte;
    std::memcpy(&byte, &flag, 1);
    return byte != 0;
}

}  // namespace

extern "C" {

void marllib_Close(void) {
    for (int32_t i = 0; i < documentCount; ++i) delete documentList[i];
    delete[] documentList;
    documentList = nullptr;
    documentCount = 0;
    documentCapacity = 0;
}

int32_t marllib_Create(void) { return Register(std::make_unique<MarlClass::Document>()); }

int32_t marllib_Load(const char* source, int32_t length) {
    if (length > 0) return Register(MarlLib::LoadText(source, length));
    std::unique_ptr<MarlClass::Document> document;
    {
        marl::file_bytes file;
        if (const int error = marl::read_file(source, file)) {
            marl::detail::report_read_failure(error);
            return MARLLIB_LOAD_UNREADABLE;
        }
        document = MarlLib::LoadText(file.data(), static_cast<int32_t>(file.size()));
    }  // the file's bytes are released before the document is registered
    return Register(std::move(document));
}

int32_t marllib_GetCollection(int32_t handle, int32_t tag) {
    const auto* document = Lookup(handle);
    return document ? document->GetCollection(tag) : MARLLIB_INVALID_HANDLE;
}

bool marllib_SetValue(int32_t handle, int32_t tag, const char* value, int32_t length) {
    auto* document = Lookup(handle);
    return document ? document->SetValue(tag, value, length) : false;
}

int32_t marllib_GetValue(int32_t handle, int32_t tag, char* buffer, int32_t max) {
    const auto* document = Lookup(handle);
    return document ? document->GetValue(tag, buffer, max) : MARLLIB_INVALID_HANDLE;
}

bool marllib_SetName(int32_t handle, int32_t tag, const char* name, int32_t length) {
    auto* document = Lookup(handle);
    return document ? document->SetName(tag, name, length) : false;
}

int32_t marllib_GetName(int32_t handle, int32_t tag, char* buffer) {
    const auto* document = Lookup(handle);
    return document ? document->GetName(tag, buffer) : MARLLIB_INVALID_HANDLE;
}

int32_t marllib_AddTag(int32_t handle, int32_t collection, const char* name, int32_t length,
                       bool isLeaf) {
    auto* document = Lookup(handle);
    return document ? document->AddTag(collection, name, length, AnyNonzeroByte(isLeaf))
                    : MARLLIB_INVALID_HANDLE;
}

int32_t marllib_GetTags(int32_t handle, int32_t collection, int32_t* out, int32_t max) {
    const auto* document = Lookup(handle);
    return document ? document->GetTags(collection, out, max) : MARLLIB_INVALID_HANDLE;
}

int32_t marllib_GetTagsByName(int32_t handle, int32_t collection, const char* name,
                              int32_t length, int32_t* out, int32_t max) {
    const auto* document = Lookup(handle);
    return document ? document->GetTagsByName(collection, name, length, out, max)
                    : MARLLIB_INVALID_HANDLE;
}

int32_t marllib_GetTagByName(int32_t handle, int32_t collection, const char* name,
                             int32_t length) {
    const auto* document = Lookup(handle);
    return document ? document->GetTagByName(collection, name, length) : MARLLIB_INVALID_HANDLE;
}

}  // extern "C"
