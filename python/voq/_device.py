"""Headset: device commands, the settings the headset reported, alarms and
battery."""

from __future__ import annotations

from typing import Any, Dict, List, Tuple

from . import _library
from ._core import call, text
from ._handles import _locked
from ._info import _parse_info

lib = _library.lib


class _Device:
    """Commands to the headset and what it reported; mixed into Headset."""

    __slots__ = ()

    # -- device commands -----------------------------------------------------

    def configure_adc(self, samples_per_second: int, filter_mode: int) -> None:
        """Sets the sampling rate (300 or 600) and the filter mode."""
        call(lib.VOQ_Headset_ConfigureADC, self._h(), int(samples_per_second), int(filter_mode))
        if not self._custom_batch:
            self._configure_default_batch()

    def set_accelerometer_rate(self, rate: int) -> None:
        call(lib.VOQ_Headset_SetAccelerometerRate, self._h(), int(rate))

    def send_battery_query(self) -> None:
        call(lib.VOQ_Headset_SendBatteryQuery, self._h())

    def start_data_acquisition(self) -> None:
        call(lib.VOQ_Headset_StartDataAcquisition, self._h())

    def stop_data_acquisition(self) -> None:
        call(lib.VOQ_Headset_StopDataAcquisition, self._h())

    def start_impedance_driver(self) -> None:
        call(lib.VOQ_Headset_StartImpedanceDriver, self._h())

    def stop_impedance_driver(self) -> None:
        call(lib.VOQ_Headset_StopImpedanceDriver, self._h())

    def start_analog_reset(self) -> None:
        call(lib.VOQ_Headset_StartAnalogReset, self._h())

    def lock_analog_reset(self) -> None:
        call(lib.VOQ_Headset_LockAnalogReset, self._h())

    def release_analog_reset(self) -> None:
        call(lib.VOQ_Headset_ReleaseAnalogReset, self._h())

    def shutdown(self) -> None:
        """Tells the headset to power down."""
        call(lib.VOQ_Headset_Shutdown, self._h())

    def change_leds(self, value: int) -> None:
        call(lib.VOQ_Headset_ChangeLEDs, self._h(), int(value))

    # -- recorded settings and information -----------------------------------

    @property
    def hardware_model(self) -> str:
        return text(lib.VOQ_Headset_GetHardwareModel, self._h())

    @property
    def hardware_revision(self) -> str:
        return text(lib.VOQ_Headset_GetHardwareRevision, self._h())

    @property
    def sensor_count(self) -> int:
        return call(lib.VOQ_Headset_GetSensorCount, self._h())

    @property
    def serial_number(self) -> int:
        return call(lib.VOQ_Headset_GetSerialNumber, self._h())

    @property
    def sampling_rate(self) -> float:
        """Samples per second; -1 until the headset has reported it."""
        return call(lib.VOQ_Headset_GetSamplingRate, self._h())

    @property
    def accelerometer_rate(self) -> float:
        return call(lib.VOQ_Headset_GetAccelerometerRate, self._h())

    @property
    def filter_mode(self) -> int:
        return call(lib.VOQ_Headset_GetFilterMode, self._h())

    @property
    def data_acquisition_mode(self) -> int:
        return call(lib.VOQ_Headset_GetDataAcquisitionMode, self._h())

    @property
    def impedance_driver_mode(self) -> int:
        return call(lib.VOQ_Headset_GetImpedanceDriverMode, self._h())

    @property
    def analog_reset_mode(self) -> int:
        return call(lib.VOQ_Headset_GetAnalogResetMode, self._h())

    @property
    def modes(self) -> Dict[str, int]:
        """The recorded modes: filter, data acquisition, impedance driver and
        analog reset (-1 until known)."""
        with _locked():
            return {
                "filter": self.filter_mode,
                "data_acquisition": self.data_acquisition_mode,
                "impedance_driver": self.impedance_driver_mode,
                "analog_reset": self.analog_reset_mode,
            }

    @property
    def firmware_revision(self) -> str:
        return text(lib.VOQ_Headset_GetFirmwareRevision, self._h())

    @property
    def info_string(self) -> str:
        """Everything known about the headset, as the library writes it."""
        return text(lib.VOQ_Headset_GetInfoString, self._h())

    @property
    def info(self) -> Dict[str, Any]:
        """The information string as a dict ('HardwareModel', 'SerialNumber',
        'SamplingRate', 'Montage', ...)."""
        return _parse_info(self.info_string)

    # -- alarms and battery --------------------------------------------------

    def alarms(self) -> List[int]:
        """Takes every alarm code (species * 256 + code byte) from the
        headset's list, oldest first."""
        h = self._h()
        with _locked():
            codes = []
            while call(lib.VOQ_Headset_GetNumberOfAlarms, h) > 0:
                codes.append(call(lib.VOQ_Headset_GetAlarm, h, 1))
            return codes

    def peek_alarm(self) -> int:
        """The oldest alarm code without removing it (0 when there is none)."""
        return call(lib.VOQ_Headset_GetAlarm, self._h(), 0)

    @property
    def number_of_alarms(self) -> int:
        return call(lib.VOQ_Headset_GetNumberOfAlarms, self._h())

    def clear_alarms(self) -> None:
        call(lib.VOQ_Headset_ClearAlarms, self._h())

    @property
    def battery(self) -> Tuple[float, float]:
        """The two battery levels in percent (-1 until measured)."""
        h = self._h()
        with _locked():
            return (call(lib.VOQ_Headset_GetBatteryLevel, h, 1),
                    call(lib.VOQ_Headset_GetBatteryLevel, h, 2))

    @property
    def battery_string(self) -> str:
        return text(lib.VOQ_Headset_GetBatteryLevelString, self._h())
