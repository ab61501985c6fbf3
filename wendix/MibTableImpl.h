#pragma once
// Member definitions of MibTable (included at the end of MibTable.h).

#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "APIData.h"
#include "Container.h"
#include "Exception.h"
#include "HalvornAPI.h"
#include "Helper.h"

namespace mibtable_detail {

// Adds to table one row per element of the JSON array text, each made by make() and filled
// with setcJsonData(element, true), kept under Halvorn's id. Elements are parsed one at a
// time. Throws Exception ("Impossible to parse json" for a text that is not a JSON array);
// rows built before the failure stay.
void fillTable(RwLockTable& table, std::string json, Container* (*make)());
// The change of one column as Halvorn takes it: {"<key>":"<value>"}, compact.
std::string changeJson(const std::string& key, const std::string& value);
// Whether the PDU behind a handler call is a GETNEXT or GETBULK (the table iterator hands
// those to the handler in GET mode).
bool fromGetNext(const netsnmp_agent_request_info* reqinfo);
// Copies at most kMaxText bytes of text into value.
void copyText(TextValue& value, const char* text, size_t length);
// Name of the per-request data that carries a SET's row id from RESERVE1 to ACTION.
extern const char* const kRowIdKey;
// Error value of a SET that could not be passed on to Halvorn (net-snmp turns it into the
// error status it reports for that phase).
constexpr int kSetFailed = 128;

}  // namespace mibtable_detail

template <class Entry, class Row>
MibTable<Entry, Row>::MibTable(MibTableLayout<Entry> layout, Entry*& head, RwLockTable& table)
    : layout_(std::move(layout)),
      head_(head),
      table_(table),
      api_(HalvornAPI::getInstance()),
      loadName_(std::string(layout_.name) + "_load"),
      handlerName_(std::string(layout_.name) + "_handler") {
    static_assert(std::is_trivial<Entry>::value, "entries are allocated zeroed with calloc");
    for (unsigned number : layout_.indexColumns) indexFields_.push_back(findColumn(number)->integer);
}

template <class Entry, class Row>
void MibTable<Entry, Row>::initialize(const MibCallbacks& callbacks) {
    std::vector<oid> root = {1, 3, 6, 1, 4, 1, kEnterprise};
    root.insert(root.end(), layout_.oidSuffix.begin(), layout_.oidSuffix.end());

    netsnmp_handler_registration* registration =
        netsnmp_create_handler_registration(layout_.name, callbacks.handler, root.data(), root.size(),
                                            layout_.writable ? HANDLER_CAN_RWRITE : HANDLER_CAN_RONLY);
    netsnmp_table_registration_info* tableInfo = SNMP_MALLOC_TYPEDEF(netsnmp_table_registration_info);
    netsnmp_iterator_info* iteratorInfo = SNMP_MALLOC_TYPEDEF(netsnmp_iterator_info);
    if (!registration || !tableInfo || !iteratorInfo) {
        std::printf("Fatal Error - %s[%d]: %s\n", __func__, __LINE__, "Impossible to allocate memory");
        return;
    }
    for (size_t i = 0; i < layout_.indexColumns.size(); ++i) netsnmp_table_helper_add_index(tableInfo, ASN_INTEGER);
    tableInfo->min_column = 1;
    tableInfo->max_column = layout_.maxColumn;

    iteratorInfo->get_first_data_point = callbacks.firstDataPoint;
    iteratorInfo->get_next_data_point = callbacks.nextDataPoint;
    iteratorInfo->table_reginfo = tableInfo;
    // load() keeps the entries in ascending index order, so a GETNEXT may stop at the first
    // row past the requested one instead of looking at every row.
    iteratorInfo->flags |= NETSNMP_ITERATOR_FLAG_SORTED;
    if (netsnmp_register_table_iterator(registration, iteratorInfo) != MIB_REGISTERED_OK) {
        std::printf("Fatal Error - %s[%d]: %s\n", __func__, __LINE__, "table registration failed");
        return;
    }

    netsnmp_cache* cache =
        netsnmp_cache_create(nextCacheTimeout(), callbacks.load, callbacks.free, root.data(), root.size());
    netsnmp_mib_handler* cacheHandler = cache ? netsnmp_cache_handler_get(cache) : nullptr;
    if (!cacheHandler ||
        netsnmp_inject_handler_before(registration, cacheHandler, TABLE_ITERATOR_NAME) != SNMPERR_SUCCESS)
        std::printf("Fatal Error - %s[%d]: %s\n", __func__, __LINE__, "cache registration failed");
    incr_scaling += 10;

    // The first load, through the cache so that it counts as the cache's content: the first
    // request then uses it instead of loading again. A failure leaves the cache invalid.
    if (cache) netsnmp_cache_check_and_reload(cache);
}

template <class Entry, class Row>
const MibColumn<Entry>* MibTable<Entry, Row>::findColumn(unsigned number) const {
    for (const auto& column : layout_.columns)
        if (column.number == number) return &column;
    return nullptr;
}

template <class Entry, class Row>
Entry* MibTable<Entry, Row>::findEntry(uint64_t id) const {
    for (Entry* entry = head_; entry; entry = entry->next)
        if (entry->id == id) return entry;
    return nullptr;
}

template <class Entry, class Row>
Entry* MibTable<Entry, Row>::createEntry(const std::vector<long>& indexes) {
    Entry* entry = static_cast<Entry*>(std::calloc(1, sizeof(Entry)));
    if (!entry) return nullptr;
    for (size_t i = 0; i < indexFields_.size() && i < indexes.size(); ++i) entry->*indexFields_[i] = indexes[i];
    entry->next = head_;
    head_ = entry;
    return entry;
}

template <class Entry, class Row>
void MibTable<Entry, Row>::removeEntry(Entry* entry) {
    for (Entry** link = &head_; *link; link = &(*link)->next) {
        if (*link == entry) {
            *link = entry->next;
            std::free(entry);
            return;
        }
    }
}

template <class Entry, class Row>
void MibTable<Entry, Row>::freeAll() {
    while (head_) {
        Entry* next = head_->next;
        std::free(head_);
        head_ = next;
    }
    table_.writeLock();
    table_.clearAll();
    table_.unlock();
}

template <class Entry, class Row>
bool MibTable<Entry, Row>::addEntryForRow(const Container& row) {
    std::vector<long> indexes;
    for (unsigned number : layout_.indexColumns) {
        const std::string text = row.getValue(findColumn(number)->key);
        if (layout_.skipRowsWithEmptyIndex && text.empty()) return false;
        indexes.push_back(Helper::getValidNumber(text));
    }
    Entry* entry = createEntry(indexes);
    if (!entry) throw Exception("Impossible to allocate memory", __func__, __LINE__);
    try {
        entry->id = row.getId();
        for (const auto& column : layout_.columns) {
            const std::string value = row.getValue(column.key);
            if (column.integer) entry->*column.integer = Helper::getValidNumber(value);
            else mibtable_detail::copyText(entry->*column.text, value.data(), value.size());
        }
    } catch (...) {
        removeEntry(entry);
        throw;
    }
    return true;
}

template <class Entry, class Row>
void MibTable<Entry, Row>::sortEntries() {
    std::vector<Entry*> entries;
    for (Entry* entry = head_; entry; entry = entry->next) entries.push_back(entry);
    // The order of the rows' OIDs: each index is one sub-identifier, compared unsigned.
    std::stable_sort(entries.begin(), entries.end(), [this](const Entry* a, const Entry* b) {
        for (auto field : indexFields_) {
            const uint32_t x = static_cast<uint32_t>(a->*field), y = static_cast<uint32_t>(b->*field);
            if (x != y) return x < y;
        }
        return false;
    });
    head_ = nullptr;
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        (*it)->next = head_;
        head_ = *it;
    }
}

template <class Entry, class Row>
int MibTable<Entry, Row>::load() {
    freeAll();
    std::string rows;
    {
        // The envelope's texts (the whole table twice) are freed here, before the rows and
        // entries are built from the one copy kept.
        APIData response = api_->doRequestApiData("get", layout_.uri, "");
        if (!response.getError().empty()) {
            std::printf("%s[%d]: Cache Error: %s\n", loadName_.c_str(), __LINE__, response.getError().c_str());
            return -1;
        }
        rows = response.getJsonData();
    }
    table_.writeLock();
    try {
        mibtable_detail::fillTable(table_, std::move(rows), [] { return static_cast<Container*>(new Row()); });
        for (Container* row : table_.getAll()) addEntryForRow(*row);
    } catch (const Exception& e) {
        std::printf("SNMP Error: %s\n", e.getMessage().c_str());
    } catch (...) {
        std::printf("SNMP Error on function %s\n", loadName_.c_str());
    }
    table_.unlock();
    sortEntries();
    // The response and its parse trees were several times the size of the rows kept; hand
    // the freed pages back so the agent's resident size follows its tables, not its peaks.
    malloc_trim(0);
    return 0;
}

template <class Entry, class Row>
netsnmp_variable_list* MibTable<Entry, Row>::firstDataPoint(void** loopContext, void** dataContext,
                                                            netsnmp_variable_list* indexes) {
    // With a sorted table the iterator passes a hint in loopContext; the walk starts at the head.
    *loopContext = head_;
    return nextDataPoint(loopContext, dataContext, indexes);
}

template <class Entry, class Row>
netsnmp_variable_list* MibTable<Entry, Row>::nextDataPoint(void** loopContext, void** dataContext,
                                                           netsnmp_variable_list* indexes) {
    Entry* entry = static_cast<Entry*>(*loopContext);
    if (!entry) return nullptr;
    netsnmp_variable_list* index = indexes;
    for (auto field : indexFields_) {
        if (!index) break;
        // An index goes on the wire as one 32-bit sub-identifier. Given as a negative long, net-snmp
        // would compare it as a 64-bit OID value while sending its low 32 bits (-1 becomes
        // 4294967295 on the wire but sorts before 0 here), and walks would stop with "OID not
        // increasing". The 32-bit unsigned form is the value the wire carries.
        const long value = static_cast<long>(static_cast<uint32_t>(entry->*field));
        snmp_set_var_typed_integer(index, ASN_INTEGER, value);
        index = index->next_variable;
    }
    *dataContext = entry;
    *loopContext = entry->next;
    return indexes;
}

template <class Entry, class Row>
int MibTable<Entry, Row>::handle(netsnmp_handler_registration* registration, netsnmp_agent_request_info* reqinfo,
                                 netsnmp_request_info* requests) {
    switch (reqinfo->mode) {
        case MODE_GET: serveGet(registration, reqinfo, requests); break;
        case MODE_SET_RESERVE1: reserve(reqinfo, requests); break;
        case MODE_SET_ACTION: action(reqinfo, requests); break;
        default:  // RESERVE2, COMMIT, FREE, UNDO: nothing to do
            break;
    }
    return SNMP_ERR_NOERROR;
}

template <class Entry, class Row>
void MibTable<Entry, Row>::serveGet(netsnmp_handler_registration* registration, netsnmp_agent_request_info* reqinfo,
                                    netsnmp_request_info* requests) {
    for (netsnmp_request_info* request = requests; request; request = request->next) {
        if (request->processed) continue;
        netsnmp_table_request_info* info = netsnmp_extract_table_info(request);
        const MibColumn<Entry>* column = info ? findColumn(info->colnum) : nullptr;
        if (!column) {
            if (info && mibtable_detail::fromGetNext(reqinfo)) {
                // A GETNEXT must answer the next object that exists, never noSuchObject: go on with
                // the first row of the next served column (or past the table), as net-snmp's
                // sparse tables do.
                unsigned next = layout_.maxColumn + 1;
                for (const auto& c : layout_.columns)
                    if (c.number > info->colnum) {
                        next = c.number;
                        break;
                    }
                std::vector<oid> name(registration->rootoid, registration->rootoid + registration->rootoid_len);
                name.push_back(1);
                name.push_back(next);
                snmp_set_var_objid(request->requestvb, name.data(), name.size());
                request->requestvb->type = ASN_PRIV_RETRY;
            } else {
                netsnmp_set_request_error(reqinfo, request, SNMP_NOSUCHOBJECT);
            }
            continue;
        }
        const Entry* entry = static_cast<const Entry*>(netsnmp_extract_iterator_context(request));
        if (!entry) {
            netsnmp_set_request_error(reqinfo, request, SNMP_NOSUCHINSTANCE);
            continue;
        }
        if (column->integer) {
            const long value = entry->*column->integer;
            snmp_set_var_typed_value(request->requestvb, ASN_INTEGER, &value, sizeof(value));
        } else {
            const TextValue& value = entry->*column->text;
            snmp_set_var_typed_value(request->requestvb, ASN_OCTET_STR, value.text, value.len);
        }
    }
}

template <class Entry, class Row>
void MibTable<Entry, Row>::reserve(netsnmp_agent_request_info* reqinfo, netsnmp_request_info* requests) {
    for (netsnmp_request_info* request = requests; request; request = request->next) {
        if (request->processed) continue;
        netsnmp_variable_list* value = request->requestvb;
        netsnmp_table_request_info* info = netsnmp_extract_table_info(request);
        const MibColumn<Entry>* column = info ? findColumn(info->colnum) : nullptr;
        int error = SNMP_ERR_NOERROR;
        if (!column || !column->writable) {
            error = SNMP_ERR_NOTWRITABLE;
        } else if (column->integer) {
            error = netsnmp_check_vb_int(value);
        } else {
            error = netsnmp_check_vb_type_and_max_size(value, ASN_OCTET_STR, kMaxText);
            // Halvorn keeps texts as JSON strings, which end at a zero byte.
            if (error == SNMP_ERR_NOERROR && value->val_len && std::memchr(value->val.string, 0, value->val_len))
                error = SNMP_ERR_WRONGVALUE;
        }
        // Only in this phase is the entry the iterator found sure to be alive. Rows cannot be
        // created through SNMP: a SET of a row the table does not hold answers noCreation.
        const Entry* entry = static_cast<const Entry*>(netsnmp_extract_iterator_context(request));
        if (error == SNMP_ERR_NOERROR && !entry) error = SNMP_ERR_NOCREATION;
        uint64_t* id = nullptr;
        if (error == SNMP_ERR_NOERROR) {
            id = static_cast<uint64_t*>(std::malloc(sizeof(uint64_t)));
            if (!id) error = SNMP_ERR_RESOURCEUNAVAILABLE;
        }
        if (error != SNMP_ERR_NOERROR) {
            netsnmp_set_request_error(reqinfo, request, error);
            return;
        }
        *id = entry->id;
        netsnmp_request_add_list_data(request, netsnmp_create_data_list(mibtable_detail::kRowIdKey, id, std::free));
    }
}

template <class Entry, class Row>
void MibTable<Entry, Row>::action(netsnmp_agent_request_info* reqinfo, netsnmp_request_info* requests) {
    using mibtable_detail::kSetFailed;
    for (netsnmp_request_info* request = requests; request; request = request->next) {
        if (request->processed) continue;
        const auto* id =
            static_cast<const uint64_t*>(netsnmp_request_get_list_data(request, mibtable_detail::kRowIdKey));
        netsnmp_table_request_info* info = netsnmp_extract_table_info(request);
        const MibColumn<Entry>* column = info ? findColumn(info->colnum) : nullptr;
        if (!id || !column) continue;  // RESERVE1 accepted nothing else
        const netsnmp_variable_list* vb = request->requestvb;

        bool stop = false;
        table_.readLock();
        try {
            const std::string value = column->integer
                                          ? std::to_string(*vb->val.integer)
                                          : std::string(reinterpret_cast<const char*>(vb->val.string), vb->val_len);
            Container* row = table_.getFromId(*id);
            Entry* entry = findEntry(*id);
            if (!row || !entry) {
                // Not applied, so not a success either.
                netsnmp_set_request_error(reqinfo, request, kSetFailed);
                stop = true;
            } else if (!api_->doRequest("set", std::string(layout_.uri) + "/" + std::to_string(*id),
                                        mibtable_detail::changeJson(column->key, value))) {
                netsnmp_set_request_error(reqinfo, request, kSetFailed);
                stop = true;
            } else {
                // Halvorn has it: show it at once, before the next load reads Halvorn's copy.
                if (column->integer) entry->*column->integer = *vb->val.integer;
                else mibtable_detail::copyText(entry->*column->text, value.data(), value.size());
                row->setValue(column->key, value, true);
            }
        } catch (const Exception& e) {
            std::printf("SNMP Error: %s\n", e.getMessage().c_str());
            netsnmp_set_request_error(reqinfo, request, kSetFailed);
        } catch (...) {
            std::printf("SNMP Error on function %s\n", handlerName_.c_str());
            netsnmp_set_request_error(reqinfo, request, kSetFailed);
        }
        table_.unlock();
        if (stop) return;
    }
}
