"""Headset: sources, the montage and its reference, output channels and
processing stages."""

from __future__ import annotations

from typing import Any, Callable, List, Optional, Union

from . import _library
from ._core import call, encode, text
from ._handles import _locked, _Token
from .objects import Channel, ProcessingStage, Source

lib = _library.lib


class _Montage:
    """Sources, montage, output channels and stages; mixed into Headset."""

    __slots__ = ()

    # -- sources -------------------------------------------------------------

    def _invalidate_sources(self) -> None:
        self._sources_token.valid = False
        self._sources_token = _Token()

    def _source(self, handle: Any) -> Source:
        return Source(self, handle, (self._alive, self._sources_token))

    @property
    def sources(self) -> List[Source]:
        """The sources used by the current montage."""
        h = self._h()
        with _locked():
            count = call(lib.VOQ_Headset_GetNumberOfSources, h)
            return [self._source(call(lib.VOQ_Headset_GetSourceByIndex, h, i))
                    for i in range(count)]

    def source(self, name: Union[str, int]) -> Source:
        """Any source by name, alias, one-based number, "CH<n>" or "SRC<n>"."""
        return self._source(call(lib.VOQ_Headset_GetSourceByName, self._h(), encode(str(name))))

    def source_names(self, flags: int = 0x13) -> List[str]:
        """Source names selected by the flag mask (0x13: connected sources and
        the trigger; 0x17: all slots)."""
        return text(lib.VOQ_Headset_GetSourceNames, self._h(), int(flags)).split()

    def use_naming_scheme(self, scheme: str) -> None:
        """"10-20" or "10-10"."""
        call(lib.VOQ_Headset_UseNamingScheme, self._h(), encode(scheme))

    def rename_source(self, old: str, new: str) -> bool:
        return bool(call(lib.VOQ_Headset_RenameSource, self._h(), encode(old), encode(new)))

    def add_source_aliases(self, aliases: str) -> bool:
        return bool(call(lib.VOQ_Headset_AddSourceAliases, self._h(), encode(aliases)))

    @property
    def impedance_cmf(self) -> float:
        """Mean common-mode impedance estimate over the montage's electrodes."""
        return call(lib.VOQ_Headset_GetImpedanceCMF, self._h())

    # -- montage and references ----------------------------------------------

    def _invalidate_montage(self) -> None:
        self._montage_token.valid = False
        self._montage_token = _Token()
        self._stages = {}
        self._layout_changed()

    def _layout_changed(self) -> None:
        self._layout_version += 1
        self._outputs_cache = None

    def choose_channels(self, montage: str = "FACTORY", reference: str = "",
                        auto_swap: bool = True) -> None:
        """Builds the montage from channel specifications such as
        ``"F3 C3-A1/2-A2/2 Cz*2"`` (``"FACTORY"``: the factory montage) and a
        reference such as ``"A1/2+A2/2"`` (``"FACTORY"``: the factory
        reference; ``""``: keep the current one).  Replaces the channels and
        the processing stages."""
        h = self._h()
        self._invalidate_montage()
        call(lib.VOQ_Headset_ChooseChannels, h, encode(montage), encode(reference),
             int(bool(auto_swap)))

    def add_channel(self, specification: Union[str, Source], auto_swap: bool = True) -> None:
        """Adds one channel to the montage, from a specification or a
        source."""
        h = self._h()
        self._layout_changed()
        if isinstance(specification, Source):
            call(lib.VOQ_Headset_AddChannelToMontage_FromSource, h, specification._h())
        else:
            call(lib.VOQ_Headset_AddChannelToMontage_FromString, h, encode(specification),
                 int(bool(auto_swap)))

    def set_traditional_reference(self, auto_swap: bool = True) -> str:
        """Applies the ear or mastoid reference the headset has; returns it
        ("" when there is none)."""
        h = self._h()
        self._invalidate_montage()
        return text(lib.VOQ_Headset_SetTraditionalReference, h, int(bool(auto_swap)))

    def set_default_reference(self, reference: str, auto_swap: bool = True) -> None:
        h = self._h()
        self._invalidate_montage()
        call(lib.VOQ_Headset_SetDefaultReference, h, encode(reference), int(bool(auto_swap)))

    @property
    def factory_reference(self) -> str:
        return text(lib.VOQ_Headset_GetFactoryReferenceString, self._h())

    @property
    def reference(self) -> str:
        """The reference in force."""
        return text(lib.VOQ_Headset_GetReferenceString, self._h())

    def forget_montage(self) -> None:
        h = self._h()
        self._invalidate_montage()
        call(lib.VOQ_Headset_ForgetMontage, h)

    @property
    def montage(self) -> str:
        """The montage as text, channels separated by blanks."""
        return text(lib.VOQ_Headset_GetMontageString, self._h())

    @property
    def number_of_montage_channels(self) -> int:
        return call(lib.VOQ_Headset_GetNumberOfChannels, self._h())

    def _channel(self, handle: Any, stage: Optional[ProcessingStage] = None) -> Channel:
        tokens = (self._alive, self._montage_token)
        if stage is not None:
            tokens = tokens + (stage._channels_token,)
        return Channel(self, handle, tokens)

    def _output_channels(self) -> List[Channel]:
        """The output channels: the last processing stage's, or the montage's
        when there is no stage."""
        cache = self._outputs_cache
        key = (self._layout_version, self._montage_token)
        if cache is not None and cache[0] == key and all(c.valid for c in cache[1]):
            return cache[1]
        h = self._h()
        with _locked():
            stages = call(lib.VOQ_Headset_GetNumberOfProcessingStages, h)
            if stages:
                stage = self._stage(call(lib.VOQ_Headset_GetProcessingStageByIndex, h, stages - 1))
                channels = stage.channels
            else:
                count = call(lib.VOQ_Headset_GetNumberOfChannels, h)
                channels = [self._channel(call(lib.VOQ_Headset_GetChannelByIndex, h, i))
                            for i in range(count)]
        self._outputs_cache = (key, channels)
        return channels

    @property
    def channels(self) -> List[Channel]:
        """The output channels, in order: those of the last processing stage
        (the montage itself when no stage was added)."""
        return list(self._output_channels())

    @property
    def channel_names(self) -> List[str]:
        with _locked():
            return [channel.name for channel in self._output_channels()]

    def channel(self, key: Union[int, str]) -> Channel:
        """An output channel by zero-based index or by name."""
        h = self._h()
        if isinstance(key, int):
            handle = call(lib.VOQ_Headset_GetChannelByIndex, h, key)
        else:
            handle = call(lib.VOQ_Headset_GetChannelByName, h, encode(key))
        for channel in self._output_channels():
            if channel._handle.value == handle.value:
                return channel
        return self._channel(handle)

    # -- processing stages ---------------------------------------------------

    def _stage(self, handle: Any) -> ProcessingStage:
        stage = self._stages.get(handle.value)
        if stage is None:
            stage = ProcessingStage(self, handle, (self._alive, self._montage_token))
            self._stages[handle.value] = stage
        return stage

    def add_processing_stage(self, name: str,
                             callback: Optional[Callable[[ProcessingStage, float], Any]] = None,
                             input: Optional[ProcessingStage] = None) -> ProcessingStage:
        """Adds a stage after the last one (reading `input`, by default the
        previous stage), starting with copies of its input's channels.

        `callback(stage, sample_time)` runs once per sample on the thread that
        reads the headset (the caller's, or the background acquisition
        thread); it must not change the montage or stages or send commands.
        The callback is kept alive as long as the headset."""
        h = self._h()
        input_handle = input._h() if input is not None else None
        stage = ProcessingStage(self, _library.ProcessingStageHandle(None),
                                (self._alive, self._montage_token), callback)
        c_callback = _library.ProcessingStageCallback(
            self._stage_trampoline(stage, callback)) if callback is not None \
            else _library.ProcessingStageCallback()
        if callback is not None:
            self._keepalive.append(c_callback)
        handle = call(lib.VOQ_Headset_AddProcessingStage, h, encode(name), c_callback, None,
                      input_handle)
        stage._handle = handle
        self._stages[handle.value] = stage
        self._layout_changed()
        return stage

    @property
    def processing_stages(self) -> List[ProcessingStage]:
        h = self._h()
        with _locked():
            count = call(lib.VOQ_Headset_GetNumberOfProcessingStages, h)
            return [self._stage(call(lib.VOQ_Headset_GetProcessingStageByIndex, h, i))
                    for i in range(count)]

    def processing_stage(self, key: Union[int, str]) -> ProcessingStage:
        if isinstance(key, int):
            return self._stage(call(lib.VOQ_Headset_GetProcessingStageByIndex, self._h(), key))
        return self._stage(call(lib.VOQ_Headset_GetProcessingStageByName, self._h(), encode(key)))

    def reallocate_stage_buffers(self, stage: ProcessingStage, seconds: float) -> None:
        call(lib.VOQ_Headset_ReallocateStageBuffers, self._h(), stage._h(), float(seconds))
