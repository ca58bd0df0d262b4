# The headers `cmake --install` puts under include/pindle/: the SDK's interface to a host.
# A header is installed only when listed here; every other header of the three libraries
# lives in a `private/` folder, so a header's path says whether editing it changes what hosts
# compile against. scripts/check-layers holds the two to each other: a header outside
# `private/` that is not listed, or a listed header that does not exist, fails it.
# A public header includes only public headers, the standard library and POSIX;
# scripts/consumer-test compiles each one on its own.
set(PINDLE_PUBLIC_HEADERS
    # platform/app/
    platform/app/Application.hpp
    platform/app/Device.hpp
    platform/app/ProcessGate.hpp
    platform/app/Screen.hpp
    # platform/audio/
    platform/audio/PulseMicrophone.hpp
    # platform/capture/
    platform/capture/CaptureAudioDataOutput.hpp
    platform/capture/CaptureConnection.hpp
    platform/capture/CaptureDevice.hpp
    platform/capture/CaptureDeviceInput.hpp
    platform/capture/CaptureHardware.hpp
    platform/capture/CaptureMetadataOutput.hpp
    platform/capture/CaptureOutput.hpp
    platform/capture/CapturePreviewLayer.hpp
    platform/capture/CaptureSession.hpp
    platform/capture/CaptureVideoDataOutput.hpp
    platform/capture/LinuxCamera.hpp
    platform/capture/MetadataObject.hpp
    # platform/crypto/
    platform/crypto/CertificateTrust.hpp
    platform/crypto/CryptoLibrary.hpp
    platform/crypto/MD5.hpp
    platform/crypto/SHA1.hpp
    platform/crypto/SecureRandom.hpp
    # platform/dispatch/
    platform/dispatch/Clock.hpp
    platform/dispatch/DispatchGroup.hpp
    platform/dispatch/DispatchQueue.hpp
    platform/dispatch/DispatchSemaphore.hpp
    platform/dispatch/DispatchTime.hpp
    platform/dispatch/DispatchTimerSource.hpp
    platform/dispatch/DispatchWorkItem.hpp
    platform/dispatch/MainThread.hpp
    platform/dispatch/Operation.hpp
    platform/dispatch/OperationQueue.hpp
    platform/dispatch/PreciseWakeUps.hpp
    platform/dispatch/SpinWait.hpp
    platform/dispatch/Thread.hpp
    platform/dispatch/ThreadIdentity.hpp
    platform/dispatch/Timer.hpp
    # platform/display/
    platform/display/Display.hpp
    # platform/files/
    platform/files/AppContainer.hpp
    platform/files/Bundle.hpp
    platform/files/DirectoryEnumerator.hpp
    platform/files/FileAttributes.hpp
    platform/files/FileError.hpp
    platform/files/FileHandle.hpp
    platform/files/FileLock.hpp
    platform/files/FileManager.hpp
    platform/files/FileVersion.hpp
    platform/files/FileWatcher.hpp
    platform/files/ProcessInfo.hpp
    platform/files/ResourceBundle.hpp
    platform/files/UserDefaults.hpp
    # platform/foundation/
    platform/foundation/Base64.hpp
    platform/foundation/Boxed.hpp
    platform/foundation/Cache.hpp
    platform/foundation/CharacterSet.hpp
    platform/foundation/Color.hpp
    platform/foundation/Data.hpp
    platform/foundation/Date.hpp
    platform/foundation/DateFormatter.hpp
    platform/foundation/Dictionary.hpp
    platform/foundation/EdgeInsets.hpp
    platform/foundation/Error.hpp
    platform/foundation/Executor.hpp
    platform/foundation/Json.hpp
    platform/foundation/JsonStreamReader.hpp
    platform/foundation/KeyValueObserving.hpp
    platform/foundation/MediaError.hpp
    platform/foundation/MediaTime.hpp
    platform/foundation/MethodRegistry.hpp
    platform/foundation/Notification.hpp
    platform/foundation/NotificationCenter.hpp
    platform/foundation/Object.hpp
    platform/foundation/PercentEncoding.hpp
    platform/foundation/Point.hpp
    platform/foundation/Rect.hpp
    platform/foundation/Size.hpp
    platform/foundation/StandardOutput.hpp
    platform/foundation/Status.hpp
    platform/foundation/Text.hpp
    platform/foundation/TimeZone.hpp
    platform/foundation/URL.hpp
    platform/foundation/UTType.hpp
    platform/foundation/UUID.hpp
    platform/foundation/Value.hpp
    platform/foundation/WeakDelegate.hpp
    platform/foundation/Weakly.hpp
    # platform/location/
    platform/location/AuthorizationStatus.hpp
    platform/location/Location.hpp
    platform/location/LocationManager.hpp
    platform/location/LocationManagerDelegate.hpp
    platform/location/LocationSource.hpp
    platform/location/ScriptedLocationSource.hpp
    # platform/log/
    platform/log/DeviceChoiceLog.hpp
    platform/log/ExclusiveFile.hpp
    platform/log/StandardError.hpp
    platform/log/SyslogSocket.hpp
    platform/log/SystemLog.hpp
    platform/log/SystemLogClient.hpp
    platform/log/SystemLogMessage.hpp
    platform/log/SystemLogQuery.hpp
    # platform/media/
    platform/media/AffineTransform.hpp
    platform/media/Asset.hpp
    platform/media/AssetExportSession.hpp
    platform/media/AssetImageGenerator.hpp
    platform/media/AssetResourceLoader.hpp
    platform/media/AssetResourceLoaderDelegate.hpp
    platform/media/AssetResourceLoadingRequest.hpp
    platform/media/AssetTrack.hpp
    platform/media/AssetWriter.hpp
    platform/media/AssetWriterInput.hpp
    platform/media/AssetWriterInputPixelBufferAdaptor.hpp
    platform/media/AudioSession.hpp
    platform/media/CameraMode.hpp
    platform/media/CameraStream.hpp
    platform/media/Composition.hpp
    platform/media/GraphicsContext.hpp
    platform/media/Image.hpp
    platform/media/MediaByteStore.hpp
    platform/media/MediaSource.hpp
    platform/media/MediaTranscoder.hpp
    platform/media/MediaWriter.hpp
    platform/media/PixelBuffer.hpp
    platform/media/PixelBufferPool.hpp
    platform/media/PixelBufferScaler.hpp
    platform/media/Player.hpp
    platform/media/PlayerItem.hpp
    platform/media/PlayerItemVideoOutput.hpp
    platform/media/SampleBuffer.hpp
    platform/media/ScriptedMediaSource.hpp
    platform/media/TimeRange.hpp
    platform/media/URLAsset.hpp
    platform/media/VideoFrame.hpp
    # platform/net/
    platform/net/HTTPURLResponse.hpp
    platform/net/NetworkReachability.hpp
    platform/net/NetworkReachabilityFlags.hpp
    platform/net/NetworkReachabilitySource.hpp
    platform/net/NetworkReachabilityTarget.hpp
    platform/net/RequestBody.hpp
    platform/net/TransferEvents.hpp
    platform/net/URLRequest.hpp
    platform/net/URLResponse.hpp
    platform/net/URLSession.hpp
    platform/net/URLSessionConfiguration.hpp
    platform/net/URLSessionDataTask.hpp
    platform/net/URLSessionDelegate.hpp
    platform/net/URLSessionTask.hpp
    platform/net/URLSessionUploadTask.hpp
    # platform/net/reachability/
    platform/net/reachability/NetlinkReachabilitySource.hpp
    platform/net/reachability/ScriptedReachabilitySource.hpp
    # platform/net/stream/
    platform/net/stream/HTTPResponseHead.hpp
    platform/net/stream/ProxyAutoConfiguration.hpp
    platform/net/stream/ProxySettings.hpp
    platform/net/stream/RunLoop.hpp
    platform/net/stream/SocketStream.hpp
    # platform/photos/
    platform/photos/AssetChangeRequest.hpp
    platform/photos/ImageManager.hpp
    platform/photos/PhotoAsset.hpp
    platform/photos/PhotoLibrary.hpp
    # platform/ui/
    platform/ui/ActivityIndicatorView.hpp
    platform/ui/AlertView.hpp
    platform/ui/BasicAnimation.hpp
    platform/ui/Button.hpp
    platform/ui/Coder.hpp
    platform/ui/Control.hpp
    platform/ui/Font.hpp
    platform/ui/GestureRecognizer.hpp
    platform/ui/GradientLayer.hpp
    platform/ui/ImagePickerController.hpp
    platform/ui/ImageView.hpp
    platform/ui/Keyboard.hpp
    platform/ui/Label.hpp
    platform/ui/Layer.hpp
    platform/ui/LayoutAnchor.hpp
    platform/ui/LayoutConstraint.hpp
    platform/ui/PanGestureRecognizer.hpp
    platform/ui/PlayerLayer.hpp
    platform/ui/ProgressView.hpp
    platform/ui/ScrollView.hpp
    platform/ui/Slider.hpp
    platform/ui/Storyboard.hpp
    platform/ui/StoryboardSegue.hpp
    platform/ui/SwipeGestureRecognizer.hpp
    platform/ui/TapGestureRecognizer.hpp
    platform/ui/TextField.hpp
    platform/ui/TextInput.hpp
    platform/ui/TextLayer.hpp
    platform/ui/TextStyle.hpp
    platform/ui/TextView.hpp
    platform/ui/Touch.hpp
    platform/ui/TouchSynthesizer.hpp
    platform/ui/UIThreadChecker.hpp
    platform/ui/View.hpp
    platform/ui/ViewController.hpp
    platform/ui/Window.hpp
    # PindleCore/api/
    PindleCore/api/PNAPIConstants.hpp
    PindleCore/api/PNAuthToken.hpp
    PindleCore/api/PNDownloader.hpp
    PindleCore/api/PNGoogleRequest.hpp
    PindleCore/api/PNPathMaker.hpp
    PindleCore/api/PNReachability.hpp
    PindleCore/api/PNRequester.hpp
    PindleCore/api/PNSession.hpp
    PindleCore/api/PNSessionAPI.hpp
    PindleCore/api/PNSessionState.hpp
    PindleCore/api/PNVideoAPI.hpp
    PindleCore/api/Reachability.hpp
    # PindleCore/caches/
    PindleCore/caches/ImageResize.hpp
    PindleCore/caches/ImageViewThumb.hpp
    PindleCore/caches/LoadImageOperation.hpp
    PindleCore/caches/LoadImageSubscription.hpp
    PindleCore/caches/PNCachedImage.hpp
    PindleCore/caches/PNImageCache.hpp
    PindleCore/caches/PNImagesLoader.hpp
    PindleCore/caches/PNLocalVideoCache.hpp
    PindleCore/caches/PNThroughputManager.hpp
    PindleCore/caches/PNThroughputManagerChannel.hpp
    PindleCore/caches/PNURLAssetCache.hpp
    PindleCore/caches/PNVideoCache.hpp
    # PindleCore/capture/
    PindleCore/capture/PCaptureSession.hpp
    PindleCore/capture/PCaptureSessionDelegate.hpp
    # PindleCore/device/
    PindleCore/device/PBandwidthService.hpp
    PindleCore/device/PFileSystemUtil.hpp
    PindleCore/device/PLocationService.hpp
    PindleCore/device/Reachability.hpp
    # PindleCore/legacy/
    PindleCore/legacy/PAVHelper.hpp
    PindleCore/legacy/PAppUtil.hpp
    PindleCore/legacy/PAudioWriterInput.hpp
    PindleCore/legacy/PBundle.hpp
    PindleCore/legacy/PFoundationExtensions.hpp
    PindleCore/legacy/PInternalStateHost.hpp
    PindleCore/legacy/PPreferences.hpp
    PindleCore/legacy/PServiceLocator.hpp
    PindleCore/legacy/PSharedInstance.hpp
    PindleCore/legacy/PSystem.hpp
    PindleCore/legacy/PUIKitExtensions.hpp
    PindleCore/legacy/PVideoWriterInput.hpp
    PindleCore/legacy/PWeakTimerTarget.hpp
    # PindleCore/library/
    PindleCore/library/PMediaLibraryService.hpp
    PindleCore/library/PNVideoImporter.hpp
    # PindleCore/logging/
    PindleCore/logging/LGASLLogCapture.hpp
    PindleCore/logging/LGASLLogger.hpp
    PindleCore/logging/LGAbstractDatabaseLogger.hpp
    PindleCore/logging/LGAbstractLogger.hpp
    PindleCore/logging/LGCachedDateFormatter.hpp
    PindleCore/logging/LGColor.hpp
    PindleCore/logging/LGContextBlacklistFilterLogFormatter.hpp
    PindleCore/logging/LGContextWhitelistFilterLogFormatter.hpp
    PindleCore/logging/LGDispatchQueueLogFormatter.hpp
    PindleCore/logging/LGExtractFileNameWithoutExtension.hpp
    PindleCore/logging/LGFileLogger.hpp
    PindleCore/logging/LGLog.hpp
    PindleCore/logging/LGLogFileFormatterDefault.hpp
    PindleCore/logging/LGLogFileInfo.hpp
    PindleCore/logging/LGLogFileManager.hpp
    PindleCore/logging/LGLogFileManagerDefault.hpp
    PindleCore/logging/LGLogFlag.hpp
    PindleCore/logging/LGLogFormatter.hpp
    PindleCore/logging/LGLogMessage.hpp
    PindleCore/logging/LGLogger.hpp
    PindleCore/logging/LGLoggerNode.hpp
    PindleCore/logging/LGLoggingContextSet.hpp
    PindleCore/logging/LGMultiFormatter.hpp
    PindleCore/logging/LGTTYColorTable.hpp
    PindleCore/logging/LGTTYLogger.hpp
    PindleCore/logging/LGTTYLoggerColorProfile.hpp
    PindleCore/logging/PLog.hpp
    # PindleCore/model/
    PindleCore/model/PNAsyncOperation.hpp
    PindleCore/model/PNBackendDate.hpp
    PindleCore/model/PNCancellable.hpp
    PindleCore/model/PNDataValidator.hpp
    PindleCore/model/PNEnvironmentValidator.hpp
    PindleCore/model/PNError.hpp
    PindleCore/model/PNErrorClassification.hpp
    PindleCore/model/PNErrorFabric.hpp
    PindleCore/model/PNFileSystemHelper.hpp
    PindleCore/model/PNJSONParser.hpp
    PindleCore/model/PNLogger.hpp
    PindleCore/model/PNNotificationNames.hpp
    PindleCore/model/PNNotifiedVideoIDs.hpp
    PindleCore/model/PNSafePath.hpp
    PindleCore/model/PNSortOrder.hpp
    PindleCore/model/PNTokenObject.hpp
    PindleCore/model/PNVideo.hpp
    PindleCore/model/PNVideoFilter.hpp
    PindleCore/model/PNVideoEventMapper.hpp
    PindleCore/model/PNVideoListReader.hpp
    PindleCore/model/PNVideoMembers.hpp
    PindleCore/model/PNVideoResolution.hpp
    PindleCore/model/PNVideoResponse.hpp
    PindleCore/model/PNVideoState.hpp
    PindleCore/model/PNVideosResponse.hpp
    # PindleCore/notifications/
    PindleCore/notifications/PNNotificationsManager.hpp
    # PindleCore/playlists/
    PindleCore/playlists/PNCustomPlaylist.hpp
    PindleCore/playlists/PNFilteredPlaylist.hpp
    PindleCore/playlists/PNLegacyPlaylist.hpp
    PindleCore/playlists/PNLegacyPlaylistDelegate.hpp
    PindleCore/playlists/PNMetadataPlaylist.hpp
    PindleCore/playlists/PNPendingChange.hpp
    PindleCore/playlists/PNPendingChangeProtocol.hpp
    PindleCore/playlists/PNPendingChangesParser.hpp
    PindleCore/playlists/PNPlaylist.hpp
    PindleCore/playlists/PNPlaylistCancellationToken.hpp
    PindleCore/playlists/PNPlaylistDelegate.hpp
    PindleCore/playlists/PNPlaylistProtocol.hpp
    PindleCore/playlists/PNPlaylistUpdateType.hpp
    PindleCore/playlists/PNTagsPlaylist.hpp
    PindleCore/playlists/PNUserPlaylist.hpp
    PindleCore/playlists/PNVideoForwardSyncOperation.hpp
    PindleCore/playlists/PNVideoForwardSyncOperationDelegate.hpp
    PindleCore/playlists/PNVideoRequestOperation.hpp
    PindleCore/playlists/PNVideoRequestOperationDelegate.hpp
    PindleCore/playlists/PNVideoSyncService.hpp
    PindleCore/playlists/PNVideoSyncServiceStorage.hpp
    PindleCore/playlists/PNVideos.hpp
    # PindleCore/uploads/
    PindleCore/uploads/PCacheManager.hpp
    PindleCore/uploads/PDataRangeUploadingOperation.hpp
    PindleCore/uploads/PGoogleDriveHelper.hpp
    PindleCore/uploads/PNUpload.hpp
    PindleCore/uploads/PNUploadingState.hpp
    PindleCore/uploads/PNUploadingStateManager.hpp
    PindleCore/uploads/PNUploadingStateToPNVideoMapper.hpp
    PindleCore/uploads/PNUploads.hpp
    PindleCore/uploads/PPublishService.hpp
    PindleCore/uploads/PPublishServiceContext.hpp
    PindleCore/uploads/PSDAVAssetExportSession.hpp
    PindleCore/uploads/PSDAVAssetExportSessionDelegate.hpp
    PindleCore/uploads/PUploadClaim.hpp
    PindleCore/uploads/PUploadSourceFile.hpp
    PindleCore/uploads/PUploadingService.hpp
    PindleCore/uploads/PVideoConverter.hpp
    # PindleCore/websocket/
    PindleCore/websocket/WSAutoConfigurationDownload.hpp
    PindleCore/websocket/WSDelegateAvailableMethods.hpp
    PindleCore/websocket/WSDelegateController.hpp
    PindleCore/websocket/WSFrameReader.hpp
    PindleCore/websocket/WSIOConsumer.hpp
    PindleCore/websocket/WSIOConsumerPool.hpp
    PindleCore/websocket/WSPinningSecurityPolicy.hpp
    PindleCore/websocket/WSProxyConnect.hpp
    PindleCore/websocket/WSSecurityPolicy.hpp
    PindleCore/websocket/WSSocksHandshake.hpp
    PindleCore/websocket/WSURLRequest.hpp
    PindleCore/websocket/WSWebSocket.hpp
    PindleCore/websocket/WSWebSocketDelegate.hpp
    # PindleCore/widgets/
    PindleCore/widgets/PNNoiseView.hpp
    PindleCore/widgets/PNSlider.hpp
    # PindlePlayer/
    PindlePlayer/PindlePlayer.hpp
    # PindlePlayer/loading/
    PindlePlayer/loading/PNPlayerCache.hpp
    PindlePlayer/loading/PNVideoLoader.hpp
    PindlePlayer/loading/PNVideoLoaderListener.hpp
    PindlePlayer/loading/PNVideoLoaderRequest.hpp
    PindlePlayer/loading/PNVideoLoaderRequestDelegate.hpp
    PindlePlayer/loading/PNVideoLoaderRequestListener.hpp
    # PindlePlayer/players/
    PindlePlayer/players/PNPlayersManager.hpp
    PindlePlayer/players/PNPlayersManagerProtocol.hpp
    # PindlePlayer/queue/
    PindlePlayer/queue/PNPlaybackQueue.hpp
    PindlePlayer/queue/PNPlaybackQueueDelegate.hpp
    # PindlePlayer/views/
    PindlePlayer/views/PNAspectMode.hpp
    PindlePlayer/views/PNPlayState.hpp
    PindlePlayer/views/PNPlayerControlPanelControlViewController.hpp
    PindlePlayer/views/PNPlayerControlPanelControlViewControllerProtocol.hpp
    PindlePlayer/views/PNPlayerTransition.hpp
    PindlePlayer/views/PNPlayerView.hpp
    PindlePlayer/views/PNPlayerViewController.hpp
    PindlePlayer/views/PNPlayerViewControllerDelegate.hpp
    PindlePlayer/views/PNPlayerViewDelegate.hpp
    PindlePlayer/views/PNPlayerVolumeIndicatorViewController.hpp
)
