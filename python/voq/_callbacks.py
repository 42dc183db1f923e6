"""Headset: Python callbacks run by the library (processing stages, the
sample callback) and the exceptions they raise, kept for the next waiting
call."""

from __future__ import annotations

import threading
import weakref
from typing import TYPE_CHECKING, Any, Callable, Optional

from . import _core, _library
from ._core import call

if TYPE_CHECKING:  # pragma: no cover
    from .headset import Headset
    from .objects import ProcessingStage

lib = _library.lib


class _Callbacks:
    """Callback trampolines and pending callback exceptions; mixed into Headset."""

    __slots__ = ()

    # -- callbacks -----------------------------------------------------------

    def _keep_exception(self, error: BaseException) -> None:
        with self._pending_lock:
            if self._pending is None:
                self._pending = error
                self._pending_thread = threading.current_thread().name
                self._skipped = 0
            else:
                self._skipped += 1

    def _raise_callback_exception(self) -> None:
        with self._pending_lock:
            error, self._pending = self._pending, None
            skipped, self._skipped = self._skipped, 0
            thread = self._pending_thread
        if error is None:
            return
        if hasattr(error, "add_note"):
            note = "raised by a VOQ callback on thread %s" % thread
            if skipped:
                note += "; the callbacks were then skipped for %d samples" % skipped
            error.add_note(note)
        raise error

    @property
    def pending_callback_exception(self) -> Optional[BaseException]:
        """The callback exception that the next waiting call will raise."""
        return self._pending

    def _stage_trampoline(self, stage: ProcessingStage,
                          callback: Callable[[ProcessingStage, float], Any]):
        ref = weakref.ref(self)

        def trampoline(headset_pointer: int, sample_time: float, stage_pointer: int) -> None:
            headset = ref()
            if headset is None:
                return
            with _core.callback_context():
                try:
                    if stage._handle.value is None:
                        stage._handle = _library.ProcessingStageHandle(stage_pointer)
                    if headset._pending is not None:
                        headset._skipped += 1
                        stage._fill_unwritten(stage_pointer, set())
                        return
                    written = stage._written = set()
                    try:
                        callback(stage, sample_time)
                    except BaseException as error:
                        headset._keep_exception(error)
                        stage._fill_unwritten(stage_pointer, written)
                    finally:
                        stage._written = None
                except BaseException as error:  # never let anything out into C
                    headset._keep_exception(error)

        return trampoline

    def set_sample_callback(self, callback: Optional[Callable[["Headset", float], Any]]) -> None:
        """`callback(headset, sample_time)` runs after every sample on the
        thread that reads the headset; None removes it.  It must not change
        the montage or stages, send commands or close the headset."""
        h = self._h()
        if callback is None:
            call(lib.VOQ_Headset_SetSampleCallback, h, _library.SampleCallback(), None)
            self._sample_callback = None
            return
        ref = weakref.ref(self)

        def trampoline(headset_pointer: int, sample_time: float, user_data: int) -> None:
            headset = ref()
            if headset is None:
                return
            with _core.callback_context():
                if headset._pending is not None:
                    headset._skipped += 1
                    return
                try:
                    callback(headset, sample_time)
                except BaseException as error:
                    headset._keep_exception(error)

        c_callback = _library.SampleCallback(trampoline)
        self._keepalive.append(c_callback)
        call(lib.VOQ_Headset_SetSampleCallback, h, c_callback, None)
        self._sample_callback = callback
