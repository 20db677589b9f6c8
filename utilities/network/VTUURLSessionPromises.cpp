#include "utilities/network/VTUURLSessionPromises.h"

PRMPromisePtr vtu_dataTaskPromiseWithRequest(const std::shared_ptr<platform::URLSession>& session,
                                             const platform::URLRequest& request) {
  return PRMPromise::async([session, request](PRMPromise::FulfillBlock fulfill,
                                              PRMPromise::RejectBlock reject) {
    auto task =
        session ? session->dataTaskWithRequest(
                      request,
                      [fulfill, reject](const platform::Bytes& data,
                                        std::shared_ptr<const platform::HTTPURLResponse> response,
                                        platform::ErrorPtr error) {
                        if (error) {
                          reject(error);
                          return;
                        }
                        fulfill(platform::Value(
                            VTUURLSessionDataResponse::initWithResponse(response, data)));
                      })
                : nullptr;
    if (!task) {
      // Nothing would ever settle the promise otherwise.
      reject(platform::Error::make(
          platform::kURLErrorDomain, platform::kURLErrorUnknown,
          {{platform::kLocalizedDescriptionKey,
            platform::Value("The session takes no more tasks.")},
           {platform::kURLErrorFailingURLStringKey, platform::Value(request.URL)}}));
      return;
    }
    task->resume();
  });
}
