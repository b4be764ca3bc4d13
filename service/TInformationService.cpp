#include "service/TInformationService.h"

#include <utility>

#include "base/TException.h"
#include "ipc/TIpcClient.h"
#include "service/OpenAsCaller.h"
#include "translation/LanguageCodes.h"
#include "translation/TAliasList.h"

TInformationService::TInformationService(const std::string& aliasFile,
                                         ISubscriptionList* subscriptions)
    : tracker_(TTracker::GetProcessTracker()),
      subscriptions_(subscriptions),
      aliases_(std::make_unique<TAliasList>(aliasFile)) {}

// Monitors go first: an adapter reports while it is deleted, and a monitor may hold adapters
// of its own. Adapters then go one at a time, each leaving the list before it is deleted: a
// flash adapter flushes a pending write in its destructor, and whatever it reports then must
// not meet adapters that are already gone.
TInformationService::~TInformationService() {
  monitors_.clear();
  while (!adapters_.empty()) {
    std::unique_ptr<IInformationAdapter> adapter = std::move(adapters_.front());
    adapters_.erase(adapters_.begin());
    adapter.reset();
  }
  aliases_.reset();
}

void TInformationService::SetAddressCheck(bool enforced) { addressCheck_ = enforced; }

void TInformationService::SetAccess(const ICallerCredentials* callers,
                                    const TAccessPolicy* policy) {
  callers_ = callers;
  policy_ = policy;
}

// ---- Who may do what ----
//
// A name is checked as the client wrote it and as each name the alias list maps it to: an
// alias must not open a way around a line of the policy.

bool TInformationService::MayUse(const TPeerCredentials& caller, const std::string& name,
                                 TAccessPolicy::TRight right) const {
  if (!policy_->Allows(caller, name, right)) return false;
  if (!aliases_->HasAlias(name)) return true;
  for (const std::string& translated : aliases_->Translate(name)) {
    if (!policy_->Allows(caller, translated, right)) return false;
  }
  return true;
}

bool TInformationService::MayRead(const TPeerCredentials& subscriber,
                                  const std::string& name) const {
  return !policy_ || MayUse(subscriber, name, TAccessPolicy::eRead);
}

void TInformationService::RequireRight(const std::string& name, TAccessPolicy::TRight right) const {
  if (!policy_ || !callers_) return;
  const TPeerCredentials* caller = callers_->GetCallerCredentials();
  if (caller && !MayUse(*caller, name, right)) {
    throw TPermissionDeniedException("Permission denied");
  }
}

TUniqueFd TInformationService::OpenClientFile(const std::string& path, int flags) const {
  return OpenAsCaller(callers_ ? callers_->GetCallerCredentials() : nullptr, path, flags);
}

void TInformationService::AddAdapter(std::unique_ptr<IInformationAdapter> adapter) {
  adapters_.push_back(std::move(adapter));
}

void TInformationService::StartAdapter(std::unique_ptr<IInformationAdapter> adapter) {
  IInformationAdapter* started = adapter.get();
  AddAdapter(std::move(adapter));
  started->SetCallback(this);
  started->InitializeObjects();
}

std::unique_ptr<IInformationAdapter> TInformationService::RemoveAdapter(
    const IInformationAdapter* adapter) {
  for (auto it = adapters_.begin(); it != adapters_.end(); ++it) {
    if (it->get() == adapter) {
      std::unique_ptr<IInformationAdapter> removed = std::move(*it);
      adapters_.erase(it);
      return removed;
    }
  }
  return nullptr;
}

void TInformationService::AddMonitor(std::unique_ptr<ILocalInformationMonitor> monitor) {
  monitors_.push_back(std::move(monitor));
}

IInformationAdapter* TInformationService::FindAdapter(const std::string& name) const {
  for (const auto& adapter : adapters_) {
    if (adapter->HasObject(name)) return adapter.get();
  }
  return nullptr;
}

IInformationAdapter* TInformationService::FindStorage(const std::string& name,
                                                      TStorageType storageType) const {
  for (const auto& adapter : adapters_) {
    if (adapter->IsStorageType(storageType) && adapter->SupportsObject(name)) {
      return adapter.get();
    }
  }
  return nullptr;
}

bool TInformationService::HasAlias(const std::string& name) const {
  return aliases_->HasAlias(name);
}

std::string TInformationService::Translate(const std::string& name) const {
  TStringList aliases = aliases_->Translate(name);
  if (aliases.size() >= 2) {
    tracker_->Warning("TInformationService::Translate %s has %d aliases.", name.c_str(),
                      static_cast<int>(aliases.size()));
  }
  return aliases.front();
}

// The loops below go by index and re-read the size: an adapter's work may reach a monitor
// that appends or removes an adapter (the management adapter) while the walk is under way.
void TInformationService::FetchObjects() {
  for (std::size_t i = 0; i < adapters_.size(); ++i) adapters_[i]->FetchObjects();
}

void TInformationService::EnumerateObjects() const {
  for (std::size_t i = 0; i < adapters_.size(); ++i) adapters_[i]->EnumerateObjects();
}

void TInformationService::UpdateMonitors(const std::string& name) const {
  for (std::size_t i = 0; i < monitors_.size(); ++i) monitors_[i]->ObjectUpdate(name);
}

// ---- Reads ----

void TInformationService::GetObject(const std::string& name, std::string& value) {
  RequireRight(name, TAccessPolicy::eRead);
  // With several aliases the last one decides, as it always has for this service's clients.
  const std::string lastName = aliases_->Translate(name).back();
  IInformationAdapter* adapter = FindAdapter(lastName);
  if (!adapter) throw TUnknownObjectException("Unknown object");
  adapter->GetObject(lastName, value);
}

void TInformationService::GetObject2(const std::string& name, std::string& value, bool& cacheable) {
  const std::string lastName = aliases_->Translate(name).back();
  IInformationAdapter* adapter = FindAdapter(lastName);
  if (!adapter) throw TUnknownObjectException("Unknown object");
  adapter->GetObject(lastName, value);
  cacheable = !adapter->IsComputedOnRead(lastName);
}

void TInformationService::GetObjects(const TStringList& names, TStringList& values) {
  for (const std::string& name : names) {
    values.emplace_back();
    GetObject(name, values.back());
  }
}

void TInformationService::GetObjectToFile(const std::string& name, const std::string& fileName) {
  RequireRight(name, TAccessPolicy::eRead);
  for (const std::string& translated : aliases_->Translate(name)) {
    IInformationAdapter* adapter = FindAdapter(translated);
    if (!adapter) throw TUnknownObjectException("Unknown object");
    adapter->GetObjectToFile(translated, fileName);
  }
}

// ---- Writes ----
//
// Every write is planned before it is carried out: the adapter for each name it will touch
// is chosen first, and a request for which one of them has no storage (an unknown storage
// type from a client, or a name that no accepting adapter supports) is refused with 201 while
// nothing has changed yet. Failures of the adapters themselves (limits, files) can still
// stop a multi-name request part-way, after the names before it were handled.

void TInformationService::CheckStorageType(TStorageType storageType) {
  if (storageType != ePermanent && storageType != eVolatile) {
    throw TUnknownObjectException("Invalid storage type");
  }
}

IInformationAdapter* TInformationService::RequireStorage(const std::string& name,
                                                         TStorageType storageType) const {
  CheckStorageType(storageType);
  IInformationAdapter* storage = FindStorage(name, storageType);
  if (!storage) throw TUnknownObjectException("No storage for object");
  return storage;
}

std::vector<TInformationService::TWrite> TInformationService::PlanWrite(
    const std::string& name, TStorageType storageType) const {
  RequireRight(name, TAccessPolicy::eWrite);
  std::vector<TWrite> plan;
  for (std::string& translated : aliases_->Translate(name)) {
    RequireStorage(translated, storageType);
    plan.push_back(TWrite{std::move(translated), storageType, false});
  }
  return plan;
}

// For cfg.locale.ui every alias write is preceded by the write of config.uilanguage with the
// converted code, so that the platform's components see the new language no later than the
// clients of the tag. A client name that the alias list maps onto cfg.locale.ui counts too:
// otherwise a set through the alias would leave the two copies disagreeing.
std::vector<TInformationService::TWrite> TInformationService::PlanSet(
    const std::string& name, TStorageType storageType) const {
  std::vector<TWrite> plan;
  for (TWrite& write : PlanWrite(name, storageType)) {
    const char* copy = LanguageCopyOf(name);
    if (copy == nullptr) copy = LanguageCopyOf(write.name);
    if (copy != nullptr) {
      RequireStorage(copy, storageType);
      plan.push_back(TWrite{copy, storageType, true});
    }
    plan.push_back(std::move(write));
  }
  return plan;
}

// The storage is looked up again for each write rather than kept from the plan: a write may
// reach a monitor that changes the adapter list, and a kept pointer could then dangle.
void TInformationService::ApplySet(const std::vector<TWrite>& plan,
                                   const std::string& value) const {
  for (const TWrite& write : plan) {
    RequireStorage(write.name, write.storageType)
        ->SetObject(write.name, write.convert ? ConvertLanguageCode(value) : value);
  }
}

void TInformationService::ApplyUnset(const std::vector<TWrite>& plan) const {
  for (const TWrite& write : plan) {
    RequireStorage(write.name, write.storageType)->UnsetObject(write.name);
  }
}

void TInformationService::SetObject(const std::string& name, const std::string& value,
                                    TStorageType storageType) {
  ApplySet(PlanSet(name, storageType), value);
}

void TInformationService::SetObjects(const TStringList& names, const TStringList& values,
                                     const std::vector<TStorageType>& storageTypes) {
  if (values.size() < names.size() || storageTypes.size() < names.size()) {
    throw TUnknownObjectException("Missing values or storage types");
  }
  std::vector<std::vector<TWrite>> plans;
  plans.reserve(names.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    plans.push_back(PlanSet(names[i], storageTypes[i]));
  }
  for (std::size_t i = 0; i < names.size(); ++i) ApplySet(plans[i], values[i]);
}

void TInformationService::SetObjectFromFile(const std::string& name, const std::string& fileName,
                                            TStorageType storageType) {
  for (const TWrite& write : PlanWrite(name, storageType)) {
    RequireStorage(write.name, write.storageType)->SetObjectFromFile(write.name, fileName);
  }
}

void TInformationService::UnsetObject(const std::string& name, TStorageType storageType) {
  ApplyUnset(PlanWrite(name, storageType));
}

void TInformationService::UnsetObjects(const TStringList& names,
                                       const std::vector<TStorageType>& storageTypes) {
  if (storageTypes.size() < names.size()) {
    throw TUnknownObjectException("Missing storage types");
  }
  std::vector<std::vector<TWrite>> plans;
  plans.reserve(names.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    plans.push_back(PlanWrite(names[i], storageTypes[i]));
  }
  for (const std::vector<TWrite>& plan : plans) ApplyUnset(plan);
}

// ---- Subscriptions ----

void TInformationService::CheckSubscription(const std::string& expression,
                                            const std::string& address) const {
  if (expression.empty()) throw TUnknownObjectException("Invalid expression");
  if (addressCheck_ && !TCIpcClient_ValidateAddress(address)) {
    throw TUnknownObjectException("Invalid IPC address");
  }
}

void TInformationService::SubscribeObject2(const std::string& expression, int id,
                                           const std::string& address, bool enumerate) {
  CheckSubscription(expression, address);
  RequireRight(expression, TAccessPolicy::eSubscribe);
  // A repeated subscription changes nothing, so the subscriber is not sent everything again.
  if (!subscriptions_->Add(expression, id, address)) return;
  if (enumerate) EnumerateObjects();
  FetchObjects();
}

void TInformationService::SubscribeObject(const std::string& expression, int id,
                                          const std::string& address) {
  SubscribeObject2(expression, id, address, true);
}

void TInformationService::SubscribeObjects(const TStringList& expressions, int id,
                                           const std::string& address) {
  SubscribeObjects2(expressions, id, address, true);
}

void TInformationService::SubscribeObjects2(const TStringList& expressions, int id,
                                            const std::string& address, bool enumerate) {
  for (const std::string& expression : expressions) {
    SubscribeObject2(expression, id, address, enumerate);
  }
}

void TInformationService::SubscribeObjectInternal(const std::string& expression,
                                                  const std::string& address) {
  SubscribeObject2(expression, 0, address, true);
}

void TInformationService::SubscribeObject2Internal(const std::string& expression,
                                                   const std::string& address, bool enumerate) {
  SubscribeObject2(expression, 0, address, enumerate);
}

void TInformationService::SubscribeObjectsInternal(const TStringList& expressions,
                                                   const std::string& address) {
  SubscribeObjects2(expressions, 0, address, true);
}

void TInformationService::SubscribeObjects2Internal(const TStringList& expressions,
                                                    const std::string& address, bool enumerate) {
  SubscribeObjects2(expressions, 0, address, enumerate);
}

void TInformationService::UnsubscribeObject(const std::string& expression,
                                            const std::string& address) {
  CheckSubscription(expression, address);
  RequireRight(expression, TAccessPolicy::eSubscribe);
  subscriptions_->Remove(expression, address);
  FetchObjects();
}

void TInformationService::UnsubscribeObjects(const TStringList& expressions,
                                             const std::string& address) {
  for (const std::string& expression : expressions) UnsubscribeObject(expression, address);
}

// Checked even when addresses are not enforced: removing everything of a malformed address is far
// more likely a client's mistake than an intent.
void TInformationService::UnsubscribeAllObjects(const std::string& address) {
  if (!TCIpcClient_ValidateAddress(address)) throw TUnknownObjectException("Invalid IPC address");
  subscriptions_->RemoveAll(address);
  FetchObjects();
}

// ---- Adapter callbacks ----
//
// A report counts only when the reporting adapter is the one clients read the name from;
// a change behind a higher-priority holder is invisible to them. Subscribers are told under
// the adapter's name and under every client name that the alias list maps onto it.

void TInformationService::DispatchChanged(const std::string& name) const {
  subscriptions_->DispatchObjectChanged(name);
  if (!aliases_->IsAlias(name)) return;
  for (const std::string& clientName : aliases_->Retranslate(name)) {
    subscriptions_->DispatchObjectChanged(clientName);
  }
}

void TInformationService::DispatchRemoved(const std::string& name) const {
  subscriptions_->DispatchObjectRemoved(name);
  if (!aliases_->IsAlias(name)) return;
  for (const std::string& clientName : aliases_->Retranslate(name)) {
    subscriptions_->DispatchObjectRemoved(clientName);
  }
}

void TInformationService::OnSetObject(const IInformationAdapter* adapter,
                                      const std::string& name) const {
  if (FindAdapter(name) != adapter) return;
  UpdateMonitors(name);
  DispatchChanged(name);
}

// When a holder remains, the removal is visible only if the reporting adapter ranked above
// it (clients read a different value now); if the remaining holder ranks higher, clients
// never saw the removed object. When no holder remains, the subscribers of the client names
// are told as well: they were told of the object's changes, and must learn that it is gone.
void TInformationService::OnUnsetObject(const IInformationAdapter* adapter,
                                        const std::string& name) const {
  const IInformationAdapter* holder = FindAdapter(name);
  if (holder) {
    for (const auto& entry : adapters_) {
      if (entry.get() == holder) return;
      if (entry.get() == adapter) break;
    }
  }
  UpdateMonitors(name);
  DispatchRemoved(name);
}

void TInformationService::OnEnumerateObject(const IInformationAdapter* adapter,
                                            const std::string& name) const {
  if (FindAdapter(name) != adapter) return;
  subscriptions_->EnumerateObject(name);
  if (!aliases_->IsAlias(name)) return;
  for (const std::string& clientName : aliases_->Retranslate(name)) {
    subscriptions_->EnumerateObject(clientName);
  }
}

// Only subscriptions to exactly the name make an adapter fetch it: a wildcard would make
// adapters fetch everything they could offer.
bool TInformationService::OnFetchObject(const IInformationAdapter*, const std::string& name) const {
  if (subscriptions_->Match(name, true)) return true;
  if (!aliases_->IsAlias(name)) return false;
  for (const std::string& clientName : aliases_->Retranslate(name)) {
    if (subscriptions_->Match(clientName, true)) return true;
  }
  return false;
}

// ---- Run loop ----

void TInformationService::Start() { InitializeAdapters(); }

// Each adapter is complete before the next one gets its callback. Only the adapters present
// now are walked: one that a monitor appends while another initialises is initialised by
// that monitor.
void TInformationService::InitializeAdapters() {
  const std::size_t count = adapters_.size();
  for (std::size_t i = 0; i < count && i < adapters_.size(); ++i) {
    adapters_[i]->SetCallback(this);
    adapters_[i]->InitializeObjects();
  }
}
