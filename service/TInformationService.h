// The centre of the daemon. It serves the information-object operations that clients call
// over the IPC, routes each one to one adapter of its ordered adapter list (earlier adapters
// win), translates names through the alias list, and turns the adapters' change reports into
// notifications for the in-process monitors and the subscribers. It owns its adapters and the
// alias list; the event loop, the IPC server and client, the subscription list and the
// monitors belong to start-up (daemon/), which also serves the service's object and makes it
// known (address file, platform registration). It needs no socket of its own, so its routing
// can be exercised by calling it directly. Everything runs on the loop thread.
//
// Routing: reads go to the first adapter whose HasObject is true for the name; writes go to
// the first adapter that accepts the storage type and supports the name. A write that finds
// no such adapter, a storage type other than permanent (0) or volatile (1), and list
// arguments shorter than the name list are refused with 201 before anything is changed.
//
// Who may do what: with SetAccess the service learns who made the request being served.
// Files a client names are opened with that client's rights (OpenAsCaller), and, with an
// access policy, every name the client writes (and every name the alias list maps it to)
// must be allowed to it, else 203 "Permission denied" before anything is changed.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/TStringList.h"
#include "base/TTracker.h"
#include "ipc/ICallerCredentials.h"
#include "service/IAdapterList.h"
#include "service/IInformationAdapter.h"
#include "service/IInformationAdapterCallback.h"
#include "service/IInformationService.h"
#include "service/ILocalInformationMonitor.h"
#include "service/ISubscriptionList.h"
#include "service/TAccessPolicy.h"
#include "translation/INameTranslator.h"

class TAliasList;

class TInformationService final : public IInformationService,
                                  public IInformationAdapterCallback,
                                  public IAdapterList,
                                  public INameTranslator {
 public:
  // Creates the alias list (which loads aliasFile at once and ends the process on a bad
  // file). subscriptions is not owned and must outlive the service. Subscriber addresses are
  // checked until SetAddressCheck(false).
  TInformationService(const std::string& aliasFile, ISubscriptionList* subscriptions);
  // Deletes the monitors, then the adapters in list order (their last reports reach no
  // monitor), then the alias list. The subscription list survives. Whoever serves the service
  // stops that before.
  ~TInformationService() override;

  // Hands every adapter its callback and initialises it, in list order. Requests are served
  // from then on, whenever the owner of the loop runs it. Initialisation failures propagate.
  void Start();
  // Whether subscription requests must carry a well-formed IPC address. Without a platform
  // (standalone) nobody hands out addresses, so test clients may use any.
  void SetAddressCheck(bool enforced);

  // callers (not owned) tells who made the request being served; policy (not owned, may be
  // nullptr for none) says what each caller may do. Both must outlive the service.
  void SetAccess(const ICallerCredentials* callers, const TAccessPolicy* policy);
  // Whether the policy lets this subscriber learn of the name (as written, and every name
  // the alias list maps it to). Always true without a policy.
  bool MayRead(const TPeerCredentials& subscriber, const std::string& name) const;

  // Appends. Safe to call from inside a callback.
  void AddAdapter(std::unique_ptr<IInformationAdapter> adapter);
  // Appends; monitors are told of changes in the order they were added.
  void AddMonitor(std::unique_ptr<ILocalInformationMonitor> monitor);

  // The first adapter holding the name; nullptr when none.
  IInformationAdapter* FindAdapter(const std::string& name) const;
  // The first adapter that accepts the storage type and supports the name; nullptr when none.
  IInformationAdapter* FindStorage(const std::string& name, TStorageType storageType) const;

  // Every adapter in list order re-considers what to fetch, respectively reports every object
  // it holds through OnEnumerateObject.
  void FetchObjects();
  void EnumerateObjects() const;
  // Every monitor in list order is told that the visible object changed.
  void UpdateMonitors(const std::string& name) const;

  // IAdapterList
  void StartAdapter(std::unique_ptr<IInformationAdapter> adapter) override;
  std::unique_ptr<IInformationAdapter> RemoveAdapter(const IInformationAdapter* adapter) override;

  // IToiInformationService
  void GetObject(const std::string& name, std::string& value) override;
  void GetObjects(const TStringList& names, TStringList& values) override;
  // GetObject; cacheable is false when the holder computes the value on every read.
  void GetObject2(const std::string& name, std::string& value, bool& cacheable) override;
  void GetObjectToFile(const std::string& name, const std::string& fileName) override;
  void SetObject(const std::string& name, const std::string& value,
                 TStorageType storageType) override;
  void SetObjects(const TStringList& names, const TStringList& values,
                  const std::vector<TStorageType>& storageTypes) override;
  void SetObjectFromFile(const std::string& name, const std::string& fileName,
                         TStorageType storageType) override;
  void UnsetObject(const std::string& name, TStorageType storageType) override;
  void UnsetObjects(const TStringList& names,
                    const std::vector<TStorageType>& storageTypes) override;
  void SubscribeObject(const std::string& expression, int id, const std::string& address) override;
  void SubscribeObject2(const std::string& expression, int id, const std::string& address,
                        bool enumerate) override;
  void SubscribeObjects(const TStringList& expressions, int id,
                        const std::string& address) override;
  void SubscribeObjects2(const TStringList& expressions, int id, const std::string& address,
                         bool enumerate) override;
  void UnsubscribeObject(const std::string& expression, const std::string& address) override;
  void UnsubscribeObjects(const TStringList& expressions, const std::string& address) override;
  void UnsubscribeAllObjects(const std::string& address) override;
  void SubscribeObjectInternal(const std::string& expression, const std::string& address) override;
  void SubscribeObject2Internal(const std::string& expression, const std::string& address,
                                bool enumerate) override;
  void SubscribeObjectsInternal(const TStringList& expressions,
                                const std::string& address) override;
  void SubscribeObjects2Internal(const TStringList& expressions, const std::string& address,
                                 bool enumerate) override;

  // IInformationAdapterCallback
  void OnSetObject(const IInformationAdapter* adapter, const std::string& name) const override;
  void OnUnsetObject(const IInformationAdapter* adapter, const std::string& name) const override;
  void OnEnumerateObject(const IInformationAdapter* adapter,
                         const std::string& name) const override;
  bool OnFetchObject(const IInformationAdapter* adapter, const std::string& name) const override;
  TUniqueFd OpenClientFile(const std::string& path, int flags) const override;

  // INameTranslator
  // Whether the alias list maps this client name to other names.
  bool HasAlias(const std::string& name) const override;
  // The first alias of the name (the name itself when it has none); warns when there are
  // several, since callers that use this single-name form then see only the first.
  std::string Translate(const std::string& name) const override;

 private:
  // One write of a client request, checked to have a storage before any write is made.
  struct TWrite {
    std::string name;
    TStorageType storageType;
    bool convert;  // the value goes through ConvertLanguageCode (the config.uilanguage copy)
  };

  // Throws 201 unless the type is one that some adapter can be the storage for.
  static void CheckStorageType(TStorageType storageType);
  // FindStorage, throwing 201 when no adapter qualifies.
  IInformationAdapter* RequireStorage(const std::string& name, TStorageType storageType) const;
  // The writes of a client set or unset of one name, in order; throws 201 when one of them
  // has no storage.
  std::vector<TWrite> PlanWrite(const std::string& name, TStorageType storageType) const;
  std::vector<TWrite> PlanSet(const std::string& name, TStorageType storageType) const;
  void ApplySet(const std::vector<TWrite>& plan, const std::string& value) const;
  void ApplyUnset(const std::vector<TWrite>& plan) const;

  // Throws 203 unless the caller of the request being served may use the right on the
  // name or expression and on every name the alias list maps it to.
  void RequireRight(const std::string& name, TAccessPolicy::TRight right) const;
  bool MayUse(const TPeerCredentials& caller, const std::string& name,
              TAccessPolicy::TRight right) const;

  void CheckSubscription(const std::string& expression, const std::string& address) const;
  // Dispatch under the adapter's name and under every client name mapped onto it.
  void DispatchChanged(const std::string& name) const;
  void DispatchRemoved(const std::string& name) const;

  void InitializeAdapters();

  TTracker* tracker_;
  bool addressCheck_ = true;
  std::vector<std::unique_ptr<IInformationAdapter>> adapters_;
  ISubscriptionList* subscriptions_;
  std::unique_ptr<TAliasList> aliases_;
  const ICallerCredentials* callers_ = nullptr;
  const TAccessPolicy* policy_ = nullptr;
  std::vector<std::unique_ptr<ILocalInformationMonitor>> monitors_;
};
