// The centre of the daemon. It serves the information-object operations that clients call
// over the IPC, routes each one to one adapter of its ordered adapter list (earlier adapters
// win), translates names through the alias list, and turns the adapters' change reports into
// notifications for the in-process monitors and the subscribers. It owns its adapters, the
// alias list, the dispatchers of the objects it serves and the platform callers; the event
// loop, the IPC server and client, the subscription list and the monitors belong to start-up
// (main), which runs the loop. Everything runs on the loop thread.
//
// Routing: reads go to the first adapter whose HasObject is true for the name; writes go to
// the first adapter that accepts the storage type and supports the name. A write that finds
// no such adapter, a storage type other than permanent (0) or volatile (1), and list
// arguments shorter than the name list are refused with 201 before anything is changed.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/TStringList.h"
#include "base/TTracker.h"
#include "service/IInformationAdapter.h"
#include "service/IInformationAdapterCallback.h"
#include "service/IInformationService.h"
#include "service/ILocalInformationMonitor.h"
#include "service/ISubscriptionList.h"
#include "toi/IPlatformComponent.h"
#include "toi/IToiApplicationObserver.h"

class IIpcServer;
class TAliasList;
class TApplicationServiceCaller;
class TInformationServiceDispatcher;
class TIpcClient;
class TPlatformComponentDispatcher;
class TPlatformServiceCaller;
class TToiApplicationObserverDispatcher;

class TInformationService final : public IInformationService,
                                  public IPlatformComponent,
                                  public IToiApplicationObserver,
                                  public IInformationAdapterCallback {
 public:
  // Application states reported through OnStateChanged that the service acts on.
  static constexpr int kStateStarted = 3;
  static constexpr int kStateEnded = 7;

  // One row of the language-code table used by Convert; the table ends with a null "from".
  struct TLanguageCode {
    const char* from;
    const char* to;
  };
  static const TLanguageCode LanguageCodes[];

  // Creates the alias list (which loads aliasFile at once and ends the process on a bad
  // file). subscriptions, client and server are not owned and must outlive the service; the
  // served objects are made on server.
  TInformationService(bool standalone, const std::string& ipcAddressFile,
                      const std::string& aliasFile, ISubscriptionList* subscriptions,
                      TIpcClient* client, IIpcServer& server);
  // Ends the serving of its objects, then deletes the adapters in list order, the platform
  // callers and the alias list. Monitors and the subscription list survive.
  ~TInformationService() override;

  // Creates the served objects, writes the address file, registers with the platform (not in
  // standalone mode), hands every adapter its callback and initialises it. Calls are served
  // from then on, whenever the owner of the loop runs it. Registration and initialisation
  // failures propagate.
  void Start();

  // Appends; the service takes ownership. Safe to call from inside a callback.
  void AddAdapter(IInformationAdapter* adapter);
  // Removes the first entry equal to the pointer without deleting it; ownership goes back to
  // the caller. Safe to call from inside a callback.
  void RemoveAdapter(IInformationAdapter* adapter);
  // Appends; not owned, SetOwner is not called.
  void AddMonitor(ILocalInformationMonitor* monitor);

  // The first adapter holding the name; nullptr when none.
  IInformationAdapter* FindAdapter(const std::string& name) const;
  // The first adapter that accepts the storage type and supports the name; nullptr when none.
  IInformationAdapter* FindStorage(const std::string& name, TStorageType storageType) const;

  // Whether the alias list maps this client name to other names.
  bool HasAlias(const std::string& name) const;
  // The first alias of the name (the name itself when it has none); warns when there are
  // several, since callers that use this single-name form then see only the first.
  std::string Translate(const std::string& name) const;
  // The three-letter code of a language tag ("sv-SE" -> "swe"); other values unchanged.
  static std::string Convert(const std::string& value);

  // Every adapter in list order re-considers what to fetch, respectively reports every object
  // it holds through OnEnumerateObject.
  void FetchObjects();
  void EnumerateObjects() const;
  // Every monitor in list order is told that the visible object changed.
  void UpdateMonitors(const std::string& name) const;

  // IToiInformationService
  void GetObject(const std::string& name, std::string& value) override;
  void GetObjects(const TStringList& names, TStringList& values) override;
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

  // IPlatformComponent
  void OnLoad() override;
  void OnUnload(bool flag) override;
  void OnStandbyChanged() override;
  void Ping() override;

  // IToiApplicationObserver
  void OnStateChanged(const TApplicationStateInfoList& infos) override;

  // IInformationAdapterCallback
  void OnSetObject(const IInformationAdapter* adapter, const std::string& name) const override;
  void OnUnsetObject(const IInformationAdapter* adapter, const std::string& name) const override;
  void OnEnumerateObject(const IInformationAdapter* adapter,
                         const std::string& name) const override;
  bool OnFetchObject(const IInformationAdapter* adapter, const std::string& name) const override;

 private:
  // One write of a client request, checked to have a storage before any write is made.
  struct TWrite {
    std::string name;
    TStorageType storageType;
    bool convert;  // the value goes through Convert (the config.uilanguage companion)
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

  void CheckSubscription(const std::string& expression, const std::string& address) const;
  // Dispatch under the adapter's name and under every client name mapped onto it.
  void DispatchChanged(const std::string& name) const;
  void DispatchRemoved(const std::string& name) const;

  void WriteAddressFile(const std::string& address) const;
  void RegisterWithPlatform(const std::string& serviceAddress, const std::string& componentAddress,
                            const std::string& observerAddress);
  void InitializeAdapters();

  TTracker* tracker_;
  bool standalone_;
  std::string ipcAddressFile_;
  std::vector<std::unique_ptr<IInformationAdapter>> adapters_;
  TIpcClient* client_;
  IIpcServer& server_;
  std::unique_ptr<TInformationServiceDispatcher> serviceDispatcher_;
  std::unique_ptr<TPlatformComponentDispatcher> componentDispatcher_;
  std::unique_ptr<TToiApplicationObserverDispatcher> observerDispatcher_;
  std::unique_ptr<TPlatformServiceCaller> platformService_;
  std::unique_ptr<TApplicationServiceCaller> applicationService_;
  ISubscriptionList* subscriptions_;
  std::unique_ptr<TAliasList> aliases_;
  std::vector<ILocalInformationMonitor*> monitors_;
  int serviceId_ = 0;
};
