#pragma once
// The message envelope of every channel message.
// Request: {"action":..,"uri":..[,"data":..]}; response: {["data":..,]"err":..}; always
// cJSON's compact print, members in that order. Holds five strings and no JSON tree
// between calls. Not thread-safe (one owner at a time); parse/create throw Exception.

#include <cjson/cJSON.h>

#include <string>

class APIData {
public:
    APIData();
    virtual ~APIData();

    // Builds the request text; data "" means no "data" member. Throws "Impossible to parse json".
    void createRequest(const std::string& action, const std::string& uri, const std::string& jsonData);
    // Parses at most length bytes of text. Throws "JSON not parsed: <text>" or
    // "Key '<k>' not found" (missing or non-string "action"/"uri", "data" missing for "set").
    void parseRequest(const char* text, int length);
    // Builds the response text; "data" only when the error is "" and data is not "".
    void createResponse(const std::string& error, const std::string& jsonData);
    // Success response for a payload that is already cJSON's compact print (a table's ready
    // text, a record's getJsonData(true, ...)): the same bytes as createResponse("", text),
    // built by concatenation, because re-parsing a 1024-row table on every read costs
    // milliseconds. Never pass text that did not come out of the compact printer. Built in
    // the envelope's own storage, so a reused envelope copies a table without allocating.
    void createResponseCompact(const std::string& compactJson);
    // Throws "JSON not parsed: <text>" or "Key 'err' not found".
    void parseResponse(const char* text, int length);

    void clearAll();
    // Heap copy of the five strings; the caller owns it.
    APIData* clone() const;

    std::string getAction() const { return action_; }
    std::string getUri() const { return uri_; }
    // The two texts that may be large (a whole table) are handed out by reference, valid
    // until the envelope is next changed: no copy of a table per response.
    const std::string& getJsonData() const { return jsonData_; }
    const std::string& getJsonProtocol() const { return jsonProtocol_; }
    std::string getError() const { return error_; }

    // Five "name: value" lines and a line of 17 hyphens, for debugging.
    std::string dump() const;

    // The member's string value; throws "Key '<key>' not found" when the value is not an
    // object, or the member is missing or not a string. Keys compare case-sensitively.
    static std::string getStringValue(const cJSON* object, const std::string& key);
    // The member of any type (owned by the object); throws "Key '<key>' not found".
    static cJSON* getObjectValue(const cJSON* object, const std::string& key);

private:
    std::string action_;
    std::string uri_;
    std::string jsonData_;
    std::string jsonProtocol_;
    std::string error_;
};
